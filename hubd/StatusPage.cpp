// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/StatusPage.h"

namespace tessaro::hubd {

const std::string& StatusPageHtml() {
  static const std::string page = R"HTML(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Device server</title>
<link rel="stylesheet" href="page.css">
<script src="page.js" defer></script>
</head><body>
<header><h1 id="name">Device server</h1></header>
<main>
<dl id="server"></dl>
<section id="admin">
<p id="nopassword" hidden>No administrator password is set, so nobody can act on the devices
here. To set one, run on the server: <code>tessaro-hubd --config FILE --set-admin-password</code>
(with the service's <code>--pins FILE</code> too).</p>
<form id="login" hidden><label>Administrator password
<input type="password" name="password" autocomplete="current-password" required></label>
<button>Log in</button> <span id="loginerror"></span></form>
<p id="loggedin" hidden>Logged in as administrator. <button id="logout" type="button">Log
out</button></p>
</section>
<table><thead><tr><th>#</th><th>Type</th><th>Device</th><th>Serial</th><th>Owner</th>
<th>Lock</th><th id="acts"></th></tr></thead><tbody id="devices"></tbody></table>
<h2>PCs attached</h2><ul id="pcs"></ul>
</main>
</body></html>
)HTML";
  return page;
}

const std::string& StatusPageStyle() {
  static const std::string style = R"CSS(
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
#admin{margin:0 0 16px}#loginerror{color:#b00020}
button{margin:2px;padding:4px 8px;border:1px solid #24466b;background:#fff;border-radius:4px}
@media (max-width:640px){thead{display:none}tr{display:block;border-bottom:2px solid #ccd}
td{display:block;border:0;padding:4px 8px}td[data-l]:before{content:attr(data-l) ": ";color:#5a6275}}
)CSS";
  return style;
}

const std::string& StatusPageScript() {
  static const std::string script = R"JS(
const icons={printer:'<svg viewBox="0 0 24 24"><path fill="#24466b" d="M6 2h12v6H6zM3 9h18v8h-3v5H6v-5H3zm5 7v4h8v-4z"/></svg>',
scanner:'<svg viewBox="0 0 24 24"><path fill="#24466b" d="M2 12h20v7H2zm2-6 16 4-.5 1.5L3.5 7.5z"/></svg>',
storage:'<svg viewBox="0 0 24 24"><path fill="#24466b" d="M7 2h10v4h2v16H5V6h2zm2 2v2h6V4z"/></svg>',
mfp:'<svg viewBox="0 0 24 24"><path fill="#24466b" d="M4 3h16v4H4zm-2 5h20v9h-3v4H5v-4H2zm5 8v3h10v-3z"/></svg>',
other:'<svg viewBox="0 0 24 24"><circle cx="12" cy="12" r="9" fill="#24466b"/></svg>'};
function icon(t){t=t.toUpperCase();return t=="PRINTER"?icons.printer:t=="SCANNER"?icons.scanner:
t=="MASS STORAGE"?icons.storage:t=="MFP"?icons.mfp:icons.other}
function esc(s){return String(s).replace(/[&<>"']/g,c=>"&#"+c.charCodeAt(0)+";")}
function post(path,body){return fetch(path,{method:"POST",body}).then(load)}
function act(n,what){if(what!="veto")return post("actions/"+n+"/"+what);
const name=prompt("Veto name (empty lifts the veto)","");if(name===null)return;
post("actions/"+n+"/veto",new URLSearchParams({type:name?"6":"0",name}))}
function button(n,what,label){return "<button data-n='"+n+"' data-act='"+what+"'>"+label+"</button>"}
function render(s){document.getElementById("name").textContent=s.server.name||"Device server";
const v=s.server;document.getElementById("server").innerHTML=[["Address",v.address+":"+v.port],
["MAC",v.mac],["Storage mode",v.storageMode],["Protocol",v.protocol],["Up",v.uptimeSeconds+" s"]]
.map(r=>"<dt>"+r[0]+"</dt><dd>"+esc(r[1])+"</dd>").join("");
document.getElementById("acts").textContent=s.admin?"Actions":"";
document.getElementById("nopassword").hidden=s.adminPasswordSet;
document.getElementById("login").hidden=!s.adminPasswordSet||s.admin;
document.getElementById("loggedin").hidden=!s.admin;
document.getElementById("devices").innerHTML=s.devices.map(d=>"<tr><td data-l='#'>"+d.number+
"</td><td data-l='Type'>"+icon(d.type)+" "+esc(d.type)+"</td><td data-l='Device'>"+
esc((d.manufacturer+" "+d.product).trim()||d.vendorId+":"+d.productId)+"</td><td data-l='Serial'>"+
esc(d.serial)+"</td><td data-l='Owner' class='"+(d.owner?"owned":"free")+"'>"+
(d.owner?esc(d.owner):"free")+"</td><td data-l='Lock'>"+(d.lockEndsInSeconds===null?"":
"kind "+d.lockKind+", ends in "+d.lockEndsInSeconds+" s")+"</td><td>"+(s.admin?
button(d.number,"veto","Eject veto")+button(d.number,"end-lock","End lock")+
button(d.number,"free","Free"):"")+"</td></tr>").join("");
document.getElementById("pcs").innerHTML=s.pcs.map(p=>"<li>"+esc(p.name)+" ("+esc(p.from)+
")</li>").join("")||"<li>none</li>"}
function load(){fetch("status.json",{cache:"no-store"}).then(r=>r.json()).then(render).catch(()=>{})}
document.addEventListener("click",e=>{const b=e.target.closest("button[data-act]");
if(b)act(b.dataset.n,b.dataset.act)});
document.getElementById("login").addEventListener("submit",e=>{e.preventDefault();
const form=e.target,error=document.getElementById("loginerror");
fetch("login",{method:"POST",body:new URLSearchParams(new FormData(form))}).then(r=>r.json()
.then(j=>{error.textContent=r.ok?"":j.error;if(r.ok)form.reset();load()})).catch(()=>{})});
document.getElementById("logout").addEventListener("click",()=>post("logout"));
load();setInterval(load,2000);
)JS";
  return script;
}

}  // namespace tessaro::hubd
