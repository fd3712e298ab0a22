// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/StatusJson.h"

#include <chrono>
#include <cstdio>
#include <string_view>

#include "base/Ipv4Text.h"
#include "hubd/Hub.h"

namespace tessaro::hubd {

namespace {

// The length of the well-formed UTF-8 sequence `text` starts with (RFC 3629: no overlong forms,
// no surrogates, nothing above U+10FFFF), or 0.
size_t Utf8SequenceLength(std::string_view text) {
  const auto at = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = at(0);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the byte after the lead
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || at(1) < low || at(1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (at(i) < 0x80 || at(i) > 0xBF) return 0;
  return length;
}

// A JSON string. UTF-8 passes as it is; quotes, backslashes and control bytes are escaped, and so
// is every byte that is not part of well-formed UTF-8 (as the character of its value), so the
// document stays valid JSON whatever bytes a name holds.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  const auto escape = [&out](unsigned char b) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
    out += escaped;
  };
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7F) {
      escape(b);
    } else if (b >= 0x80) {
      const size_t length = Utf8SequenceLength(text.substr(i));
      if (length == 0) {
        escape(b);
      } else {
        out.append(text.substr(i, length));
        i += length;
        continue;
      }
    } else {
      out += c;
    }
    ++i;
  }
  return out + "\"";
}

std::string MacText(const std::array<uint8_t, 6>& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

std::string Hex4(uint16_t id) {
  char text[5];
  std::snprintf(text, sizeof text, "%04X", id);
  return text;
}

}  // namespace

std::string StatusJson(const Hub& hub, bool admin) {
  using std::chrono::duration_cast;
  using std::chrono::seconds;
  const auto now = hub.clock().Now();
  const wire::ServerInfo info = hub.Info();
  std::string j =
      "{\"server\":{\"name\":" + Quoted(info.name) +
      ",\"address\":" + Quoted(FormatIpv4(hub.address())) +
      ",\"port\":" + std::to_string(hub.tcpPort()) + ",\"mac\":" + Quoted(MacText(info.mac)) +
      ",\"storageMode\":" + std::to_string(info.storageMode) + ",\"protocol\":\"" +
      std::to_string(info.major) + "." + std::to_string(info.minor) + "\",\"uptimeSeconds\":" +
      std::to_string(duration_cast<seconds>(now - hub.started()).count()) + "},";
  j += "\"admin\":" + std::string(admin ? "true" : "false") + ",\"devices\":[";
  bool first = true;
  for (const wire::DeviceInfo& d : hub.table().List()) {
    const auto end = hub.table().LockEndOf(d.number);
    j += std::string(first ? "" : ",") + "{\"number\":" + std::to_string(d.number) +
         ",\"type\":" + Quoted(d.type) + ",\"vendorId\":\"" + Hex4(d.vendorId) +
         "\",\"productId\":\"" + Hex4(d.productId) +
         "\",\"manufacturer\":" + Quoted(d.manufacturer) + ",\"product\":" + Quoted(d.product) +
         ",\"serial\":" + Quoted(d.serial) + ",\"owner\":" + Quoted(d.owner) +
         ",\"lockKind\":" + std::to_string(d.lockKind) + ",\"lockEndsInSeconds\":" +
         (end ? std::to_string(std::max<int64_t>(0, duration_cast<seconds>(*end - now).count()))
              : std::string("null")) +
         "}";
    first = false;
  }
  j += "],\"pcs\":[";
  first = true;
  for (const auto& [name, peer] : hub.AttachedPcs()) {
    j += std::string(first ? "" : ",") + "{\"name\":" + Quoted(name) + ",\"from\":" + Quoted(peer) +
         "}";
    first = false;
  }
  return j + "]}";
}

const std::string& StatusPageHtml() {
  static const std::string page = R"HTML(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Device server</title>
<style>
body{font-family:system-ui,sans-serif;margin:0;background:#f4f5f7;color:#1d2330}
header{background:#24466b;color:#fff;padding:16px 20px}
h1{margin:0;font-size:1.4em}
main{padding:12px 20px;max-width:1100px;margin:auto}
dl{display:grid;grid-template-columns:max-content 1fr;gap:4px 16px;margin:0 0 16px}
dt{color:#5a6275}
table{width:100%;border-collapse:collapse;background:#fff;box-shadow:0 1px 3px #0002}
th,td{padding:8px;text-align:left;border-bottom:1px solid #e3e6eb;vertical-align:middle}
th{font-size:.85em;color:#5a6275}
svg{width:28px;height:28px;vertical-align:middle}
.free{color:#2f7d32}.owned{color:#a35d00}
button{margin:2px;padding:4px 8px;border:1px solid #24466b;background:#fff;border-radius:4px}
@media (max-width:640px){thead{display:none}tr{display:block;border-bottom:2px solid #ccd}
td{display:block;border:0;padding:4px 8px}td[data-l]:before{content:attr(data-l) ": ";color:#5a6275}}
</style></head><body>
<header><h1 id="name">Device server</h1></header>
<main>
<dl id="server"></dl>
<table><thead><tr><th>#</th><th>Type</th><th>Device</th><th>Serial</th><th>Owner</th>
<th>Lock</th><th id="acts"></th></tr></thead><tbody id="devices"></tbody></table>
<h2>PCs attached</h2><ul id="pcs"></ul>
</main>
<script>
const icons={printer:'<svg viewBox="0 0 24 24"><path fill="#24466b" d="M6 2h12v6H6zM3 9h18v8h-3v5H6v-5H3zm5 7v4h8v-4z"/></svg>',
scanner:'<svg viewBox="0 0 24 24"><path fill="#24466b" d="M2 12h20v7H2zm2-6 16 4-.5 1.5L3.5 7.5z"/></svg>',
storage:'<svg viewBox="0 0 24 24"><path fill="#24466b" d="M7 2h10v4h2v16H5V6h2zm2 2v2h6V4z"/></svg>',
mfp:'<svg viewBox="0 0 24 24"><path fill="#24466b" d="M4 3h16v4H4zm-2 5h20v9h-3v4H5v-4H2zm5 8v3h10v-3z"/></svg>',
other:'<svg viewBox="0 0 24 24"><circle cx="12" cy="12" r="9" fill="#24466b"/></svg>'};
function icon(t){t=t.toUpperCase();return t=="PRINTER"?icons.printer:t=="SCANNER"?icons.scanner:
t=="MASS STORAGE"?icons.storage:t=="MFP"?icons.mfp:icons.other}
function esc(s){return String(s).replace(/[&<>"']/g,c=>"&#"+c.charCodeAt(0)+";")}
function act(n,what){fetch("actions/"+n+"/"+what,{method:"POST"}).then(load)}
function veto(n){const name=prompt("Veto name (empty lifts the veto)","");if(name===null)return;
fetch("actions/"+n+"/veto",{method:"POST",body:new URLSearchParams({type:name?"6":"0",name})}).then(load)}
function render(s){document.getElementById("name").textContent=s.server.name||"Device server";
const v=s.server;document.getElementById("server").innerHTML=[["Address",v.address+":"+v.port],
["MAC",v.mac],["Storage mode",v.storageMode],["Protocol",v.protocol],["Up",v.uptimeSeconds+" s"]]
.map(r=>"<dt>"+r[0]+"</dt><dd>"+esc(r[1])+"</dd>").join("");
document.getElementById("acts").textContent=s.admin?"Actions":"";
document.getElementById("devices").innerHTML=s.devices.map(d=>"<tr><td data-l='#'>"+d.number+
"</td><td data-l='Type'>"+icon(d.type)+" "+esc(d.type)+"</td><td data-l='Device'>"+
esc((d.manufacturer+" "+d.product).trim()||d.vendorId+":"+d.productId)+"</td><td data-l='Serial'>"+
esc(d.serial)+"</td><td data-l='Owner' class='"+(d.owner?"owned":"free")+"'>"+
(d.owner?esc(d.owner):"free")+"</td><td data-l='Lock'>"+(d.lockEndsInSeconds===null?"":
"kind "+d.lockKind+", ends in "+d.lockEndsInSeconds+" s")+"</td><td>"+(s.admin?
"<button onclick='veto("+d.number+")'>Eject veto</button><button onclick=\"act("+d.number+
",'end-lock')\">End lock</button><button onclick=\"act("+d.number+",'free')\">Free</button>":"")+
"</td></tr>").join("");
document.getElementById("pcs").innerHTML=s.pcs.map(p=>"<li>"+esc(p.name)+" ("+esc(p.from)+
")</li>").join("")||"<li>none</li>"}
function load(){fetch("status.json",{cache:"no-store"}).then(r=>r.json()).then(render).catch(()=>{})}
load();setInterval(load,2000);
</script></body></html>
)HTML";
  return page;
}

}  // namespace tessaro::hubd
