// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/SqliteRegistry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "base/AsciiText.h"
#include "base/AtomicFile.h"

namespace tessaro {

namespace {

using Clock = std::chrono::steady_clock;

// How long one operation waits for a hive another process holds locked: never less than the
// five seconds every program sharing a hive relies on. busd and the installer write the machine
// hive and may hold it longer.
constexpr std::chrono::milliseconds kUserHiveWait{5000};
constexpr std::chrono::milliseconds kMachineHiveWait{10000};
// Once an operation gave up on a locked hive, the next ones only glance at it until one gets in:
// loading the settings makes dozens of calls, and each must not wait the full time again.
constexpr std::chrono::milliseconds kStillLockedWait{100};
// Far beyond any registry value; keeps every length inside SQLite's int sizes.
constexpr std::size_t kMaxBytes = std::size_t{1} << 26;
// Access bits that change the hive (KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK, DELETE,
// WRITE_DAC, WRITE_OWNER).
constexpr uint32_t kWriteBits = 0x0002 | 0x0004 | 0x0020 | 0x10000 | 0x40000 | 0x80000;
// KEY_QUERY_VALUE, KEY_ENUMERATE_SUB_KEYS, KEY_NOTIFY.
constexpr uint32_t kQueryBits = 0x0001 | 0x0008 | 0x0010;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS reg_key (path TEXT PRIMARY KEY COLLATE NOCASE);"
    "CREATE TABLE IF NOT EXISTS reg_value (key TEXT NOT NULL COLLATE NOCASE,"
    " name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL,"
    " PRIMARY KEY (key, name));"
    "INSERT OR IGNORE INTO reg_key(path) VALUES('');";

// Sub-key order: ASCII letters folded to upper case, then the bytes themselves.
bool KeyNameLess(const std::string& a, const std::string& b) {
  const int folded = CompareNoCase(a, b);
  return folded != 0 ? folded < 0 : a < b;  // std::string compares bytes as unsigned char
}

// Splits a key path into its names; false for an empty name inside the path. A trailing
// backslash is tolerated, a leading one is not.
bool SplitPath(std::string_view path, std::vector<std::string>& names) {
  names.clear();
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  if (path.empty()) return true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t sep = path.find('\\', start);
    const std::size_t end = sep == std::string_view::npos ? path.size() : sep;
    if (end == start) return false;
    names.emplace_back(path.substr(start, end - start));
    if (sep == std::string_view::npos) return true;
    start = sep + 1;
  }
}

std::string DirOf(const std::string& file) {
  const std::size_t slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return file.substr(0, slash);
}

bool MakeDirs(const std::string& dir, mode_t mode) {
  struct stat st {};
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::string parent = DirOf(dir);
  if (parent != dir && !MakeDirs(parent, 0755)) return false;
  if (mkdir(dir.c_str(), mode) != 0) return errno == EEXIST;
  // The mode the hive's readers rely on, whatever the umask (busd's service has 0007).
  return chmod(dir.c_str(), mode) == 0;
}

// Moves a damaged hive aside as <file>.corrupt-YYYYMMDD-HHMMSS (a counter added when that name
// is taken), its journal with it so that SQLite never plays it into the new hive. The new name,
// or empty when the file could not be moved.
std::string MoveAside(const std::string& file) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = file + ".corrupt-" + stamp;
  for (int n = 0; n < 100; ++n) {
    const std::string aside = n == 0 ? base : base + "-" + std::to_string(n);
    if (RenameNoReplace(file, aside)) {
      const std::string journal = file + "-journal";
      if (access(journal.c_str(), F_OK) == 0) RenameNoReplace(journal, aside + "-journal");
      return aside;
    }
    if (errno != EEXIST) break;
  }
  return {};
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  void Text(int index, std::string_view text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Blob(int index, std::string_view data) {
    sqlite3_bind_blob(stmt_, index, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
  }
  void Int(int index, int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  std::string Column(int index) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt_, index));
    const int size = sqlite3_column_bytes(stmt_, index);
    return bytes ? std::string(bytes, static_cast<std::size_t>(size)) : std::string();
  }
  int64_t ColumnInt(int index) const { return sqlite3_column_int64(stmt_, index); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A write transaction: BEGIN IMMEDIATE takes the write lock at once (waiting out other writers
// through the busy time-out); anything not committed rolls back.
class WriteTransaction {
 public:
  explicit WriteTransaction(sqlite3* db) : db_(db), begun_(Exec(db, "BEGIN IMMEDIATE")) {}
  ~WriteTransaction() {
    if (begun_ && !done_) Exec(db_, "ROLLBACK");
  }
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;
  bool begun() const { return begun_; }
  bool Commit() {
    done_ = Exec(db_, "COMMIT");
    return done_;
  }

 private:
  sqlite3* db_;
  bool begun_;
  bool done_ = false;
};

// The stored path of a key, found without regard to ASCII case: kSuccess, kFileNotFound, or
// kRegistryIoFailed when the hive could not be read (locked by another process, damaged).
uint32_t StoredPath(sqlite3* db, std::string_view path, std::string& stored) {
  Statement st(db, "SELECT path FROM reg_key WHERE path = ?1");
  st.Text(1, path);
  const int step = st.Step();
  if (step == SQLITE_DONE) return regerr::kFileNotFound;
  if (step != SQLITE_ROW) return regerr::kRegistryIoFailed;
  stored = st.Column(0);
  return regerr::kSuccess;
}

std::string Join(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "\\" + name;
}

}  // namespace

HivePaths HivePathsFromEnvironment() {
  HivePaths paths;
  if (const char* user = std::getenv("TESSARO_USER_HIVE"); user && *user) {
    paths.user = user;
  } else {
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
      config = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
      config = std::string(home) + "/.config";
    } else {
      config = ".config";
    }
    paths.user = config + "/tessaro/user.hive";
  }
  const char* machine = std::getenv("TESSARO_MACHINE_HIVE");
  paths.machine = (machine && *machine) ? machine : "/var/lib/tessaro/machine.hive";
  return paths;
}

struct SqliteRegistry::Hive {
  std::string file;
  bool isMachine = false;
  sqlite3* db = nullptr;
  bool writable = false;
  bool hasSchema = false;
  bool reported = false;       // a hive that cannot be used is told about once
  Clock::time_point deadline;  // of the operation under way
  bool gaveUp = false;         // the operation under way found the hive locked past its deadline
  bool stillLocked = false;    // the last operation did

  // SQLite's busy handler: sleeps and retries until the operation's deadline.
  static int Busy(void* self, int count) {
    auto& hive = *static_cast<Hive*>(self);
    const auto now = Clock::now();
    if (now >= hive.deadline) {
      hive.gaveUp = true;
      return 0;
    }
    // Short naps: a writer that runs transaction after transaction leaves only brief gaps.
    const auto step = std::chrono::milliseconds(std::min(count + 1, 5));
    std::this_thread::sleep_for(std::min<Clock::duration>(step, hive.deadline - now));
    return 1;
  }
};

// Sets the deadline of one registry call on one hive; the caller holds the lock.
class SqliteRegistry::Operation {
 public:
  explicit Operation(Hive& hive) : hive_(hive) {
    const auto wait = hive.stillLocked ? kStillLockedWait
                      : hive.isMachine ? kMachineHiveWait
                                       : kUserHiveWait;
    hive.deadline = Clock::now() + wait;
    hive.gaveUp = false;
  }
  ~Operation() { hive_.stillLocked = hive_.gaveUp; }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

 private:
  Hive& hive_;
};

SqliteRegistry::SqliteRegistry(HivePaths paths)
    : user_(std::make_unique<Hive>()), machine_(std::make_unique<Hive>()) {
  user_->file = std::move(paths.user);
  machine_->file = std::move(paths.machine);
  machine_->isMachine = true;
}

SqliteRegistry::~SqliteRegistry() {
  sqlite3_close(user_->db);
  sqlite3_close(machine_->db);
}

SqliteRegistry::Health SqliteRegistry::Check(sqlite3* db) {
  // The whole file, not only its first page, which a file cut short still has whole. A hive is
  // small, so this costs little.
  Statement st(db, "PRAGMA quick_check");
  const int step = st.Step();
  if (step == SQLITE_ROW) return st.Column(0) == "ok" ? Health::Good : Health::Damaged;
  const int code = sqlite3_errcode(db);
  return code == SQLITE_NOTADB || code == SQLITE_CORRUPT ? Health::Damaged : Health::Unreadable;
}

void SqliteRegistry::Report(Hive& hive, const std::string& line) {
  if (hive.reported) return;
  hive.reported = true;
  std::fprintf(stderr, "%s\n", line.c_str());
}

SqliteRegistry::Hive& SqliteRegistry::HiveOf(RegRoot root) {
  return root == RegRoot::LocalMachine ? *machine_ : *user_;
}

uint32_t SqliteRegistry::Connect(Hive& hive, bool create) {
  if (hive.db) {
    if (!hive.hasSchema) {
      // Another process may have given the file its tables since we opened it.
      Statement st(hive.db, "SELECT 1 FROM sqlite_master WHERE name = 'reg_value'");
      const int step = st.Step();
      if (step != SQLITE_ROW && step != SQLITE_DONE) return regerr::kRegistryIoFailed;
      hive.hasSchema = step == SQLITE_ROW;
    }
    return regerr::kSuccess;
  }
  if (hive.file.empty()) return regerr::kFileNotFound;
  const std::string dir = DirOf(hive.file);
  if (struct stat st{}; stat(hive.file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    // Not ours to remove: the program runs on without storing anything.
    Report(hive, "tessaro: " + hive.file + " is a folder, not a registry hive; nothing is saved");
    return regerr::kRegistryIoFailed;
  }
  if (access(hive.file.c_str(), F_OK) != 0) {
    if (!create) return regerr::kFileNotFound;
    // The machine hive is every user's to read; a user hive is its owner's alone.
    if (!MakeDirs(dir, hive.isMachine ? 0755 : 0700)) return regerr::kAccessDenied;
    const mode_t mode = hive.isMachine ? 0644 : 0600;
    const int fd = open(hive.file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) {
      // The umask would take read access from the machine hive's users (busd's service: 0007).
      const bool modeSet = fchmod(fd, mode) == 0;
      close(fd);
      if (!modeSet) return regerr::kRegistryIoFailed;
    } else if (errno != EEXIST) {  // EEXIST: another process made it meanwhile
      return errno == EACCES ? regerr::kAccessDenied : regerr::kRegistryIoFailed;
    }
  }
  // The rollback journal lives beside the file, so writing needs the folder as well.
  hive.writable = access(hive.file.c_str(), W_OK) == 0 && access(dir.c_str(), W_OK) == 0;
  if (access(hive.file.c_str(), R_OK) != 0) return regerr::kAccessDenied;
  const int flags =
      (hive.writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_FULLMUTEX;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(hive.file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return regerr::kRegistryIoFailed;
  }
  sqlite3_busy_handler(db, &Hive::Busy, &hive);
  if (const Health health = Check(db); health != Health::Good) {
    sqlite3_close(db);
    if (health == Health::Unreadable) return regerr::kRegistryIoFailed;
    if (!hive.writable) {
      Report(hive, "tessaro: " + hive.file + " is not a registry hive; it is left as it is");
      return regerr::kRegistryIoFailed;
    }
    const std::string aside = MoveAside(hive.file);
    if (aside.empty()) {
      Report(hive, "tessaro: " + hive.file + " is not a registry hive and could not be moved");
      return regerr::kRegistryIoFailed;
    }
    Report(hive, "tessaro: " + hive.file + " was not a registry hive; kept it as " + aside +
                     " and started a new one");
    return Connect(hive, create);
  }
  Exec(db, "PRAGMA synchronous=FULL");
  if (hive.writable) {
    WriteTransaction tx(db);
    if (!tx.begun() || !Exec(db, kSchema) || !tx.Commit()) {
      sqlite3_close(db);
      return regerr::kRegistryIoFailed;
    }
  }
  hive.db = db;
  Statement st(db, "SELECT 1 FROM sqlite_master WHERE name = 'reg_value'");
  const int step = st.Step();
  if (step != SQLITE_ROW && step != SQLITE_DONE) return regerr::kRegistryIoFailed;
  hive.hasSchema = step == SQLITE_ROW;
  return regerr::kSuccess;
}

uint32_t SqliteRegistry::OpenKey(RegRoot root, std::string_view path, uint32_t access, bool create,
                                 RegKey& out) {
  out = RegKey{};
  std::vector<std::string> names;
  if (path.size() > kMaxBytes || !SplitPath(path, names)) return regerr::kInvalidParameter;
  std::lock_guard lock(mutex_);
  Hive& hive = HiveOf(root);
  Operation operation(hive);
  if (const uint32_t rc = Connect(hive, create); rc != regerr::kSuccess) return rc;
  const bool wantsWrite = (access & kWriteBits) != 0;

  std::string stored;
  bool exists = hive.hasSchema;
  for (std::size_t i = 0; exists && i < names.size(); ++i) {
    const uint32_t rc = StoredPath(hive.db, Join(stored, names[i]), stored);
    if (rc == regerr::kFileNotFound) {
      exists = false;
    } else if (rc != regerr::kSuccess) {
      return rc;
    }
  }
  if (!exists) {
    if (!create) return regerr::kFileNotFound;
    if (!hive.writable) return regerr::kAccessDenied;
    WriteTransaction tx(hive.db);
    if (!tx.begun()) return regerr::kRegistryIoFailed;
    // Walk again inside the transaction: another process may have made part of the path.
    stored.clear();
    for (const std::string& name : names) {
      const std::string wanted = Join(stored, name);
      const uint32_t found = StoredPath(hive.db, wanted, stored);
      if (found == regerr::kSuccess) continue;
      if (found != regerr::kFileNotFound) return found;
      Statement insert(hive.db, "INSERT INTO reg_key(path) VALUES(?1)");
      insert.Text(1, wanted);
      if (insert.Step() != SQLITE_DONE) return regerr::kRegistryIoFailed;
      stored = wanted;
    }
    if (!tx.Commit()) return regerr::kRegistryIoFailed;
  } else if (wantsWrite && !hive.writable) {
    return regerr::kAccessDenied;
  }
  out.root = root;
  out.path = stored;
  out.canQuery = (access & kQueryBits) != 0;
  out.canWrite = wantsWrite && hive.writable;
  out.valid = true;
  return regerr::kSuccess;
}

// The checks every call on an open key makes; the caller holds the lock and has started an
// operation on the key's hive.
uint32_t SqliteRegistry::OpenHive(const RegKey& key, bool write, Hive*& hive) {
  if (!key.valid) return regerr::kInvalidHandle;
  if (!(write ? key.canWrite : key.canQuery)) return regerr::kAccessDenied;
  hive = &HiveOf(key.root);
  return Connect(*hive, false);
}

uint32_t SqliteRegistry::QueryValue(const RegKey& key, std::string_view name, RegValue& out) {
  std::lock_guard lock(mutex_);
  Operation operation(HiveOf(key.root));
  Hive* hivePtr = nullptr;
  if (const uint32_t rc = OpenHive(key, false, hivePtr); rc != regerr::kSuccess) return rc;
  Hive& hive = *hivePtr;
  if (!hive.hasSchema) return regerr::kFileNotFound;
  Statement st(hive.db, "SELECT type, data FROM reg_value WHERE key = ?1 AND name = ?2");
  st.Text(1, key.path);
  st.Text(2, name);
  const int step = st.Step();
  if (step == SQLITE_DONE) return regerr::kFileNotFound;
  if (step != SQLITE_ROW) return regerr::kRegistryIoFailed;
  const int64_t type = st.ColumnInt(0);
  out.type = type < 0 || type > 0xFFFFFFFF ? 0 : static_cast<uint32_t>(type);
  out.data = st.Column(1);
  return regerr::kSuccess;
}

uint32_t SqliteRegistry::SetValue(const RegKey& key, std::string_view name, uint32_t type,
                                  std::string_view data) {
  std::lock_guard lock(mutex_);
  Operation operation(HiveOf(key.root));
  Hive* hivePtr = nullptr;
  if (const uint32_t rc = OpenHive(key, true, hivePtr); rc != regerr::kSuccess) return rc;
  if (name.size() > kMaxBytes || data.size() > kMaxBytes) return regerr::kInvalidParameter;
  Hive& hive = *hivePtr;
  WriteTransaction tx(hive.db);
  if (!tx.begun()) return regerr::kRegistryIoFailed;
  std::string stored;
  if (const uint32_t rc = StoredPath(hive.db, key.path, stored); rc != regerr::kSuccess) {
    return rc == regerr::kFileNotFound ? regerr::kKeyDeleted : rc;
  }
  // An update keeps the row (and so the value's place and the case of its name).
  Statement upsert(hive.db,
                   "INSERT INTO reg_value(key, name, type, data) VALUES(?1, ?2, ?3, ?4)"
                   " ON CONFLICT(key, name) DO UPDATE SET type = excluded.type,"
                   " data = excluded.data");
  upsert.Text(1, key.path);
  upsert.Text(2, name);
  upsert.Int(3, type);
  upsert.Blob(4, data);
  if (upsert.Step() != SQLITE_DONE || !tx.Commit()) return regerr::kRegistryIoFailed;
  return regerr::kSuccess;
}

uint32_t SqliteRegistry::EnumSubKeys(const RegKey& key, std::vector<std::string>& names) {
  names.clear();
  std::lock_guard lock(mutex_);
  Operation operation(HiveOf(key.root));
  Hive* hivePtr = nullptr;
  if (const uint32_t rc = OpenHive(key, false, hivePtr); rc != regerr::kSuccess) return rc;
  Hive& hive = *hivePtr;
  if (!hive.hasSchema) return regerr::kSuccess;
  const std::string prefix = key.path.empty() ? std::string() : key.path + "\\";
  Statement st(hive.db, "SELECT path FROM reg_key");
  int step;
  while ((step = st.Step()) == SQLITE_ROW) {
    const std::string path = st.Column(0);
    if (path.size() <= prefix.size() || !StartsWithNoCase(path, prefix)) continue;
    const std::string rest = path.substr(prefix.size());
    if (rest.find('\\') == std::string::npos) names.push_back(rest);
  }
  if (step != SQLITE_DONE) return regerr::kRegistryIoFailed;
  std::sort(names.begin(), names.end(), KeyNameLess);
  return regerr::kSuccess;
}

uint32_t SqliteRegistry::EnumValues(const RegKey& key, std::vector<std::string>& names) {
  names.clear();
  std::lock_guard lock(mutex_);
  Operation operation(HiveOf(key.root));
  Hive* hivePtr = nullptr;
  if (const uint32_t rc = OpenHive(key, false, hivePtr); rc != regerr::kSuccess) return rc;
  Hive& hive = *hivePtr;
  if (!hive.hasSchema) return regerr::kSuccess;
  Statement st(hive.db, "SELECT name FROM reg_value WHERE key = ?1 ORDER BY rowid");
  st.Text(1, key.path);
  int step;
  while ((step = st.Step()) == SQLITE_ROW) names.push_back(st.Column(0));
  return step == SQLITE_DONE ? regerr::kSuccess : regerr::kRegistryIoFailed;
}

uint32_t SqliteRegistry::DeleteValue(const RegKey& key, std::string_view name) {
  std::lock_guard lock(mutex_);
  Operation operation(HiveOf(key.root));
  Hive* hivePtr = nullptr;
  if (const uint32_t rc = OpenHive(key, true, hivePtr); rc != regerr::kSuccess) return rc;
  Hive& hive = *hivePtr;
  Statement st(hive.db, "DELETE FROM reg_value WHERE key = ?1 AND name = ?2");
  st.Text(1, key.path);
  st.Text(2, name);
  if (st.Step() != SQLITE_DONE) return regerr::kRegistryIoFailed;
  return sqlite3_changes(hive.db) > 0 ? regerr::kSuccess : regerr::kFileNotFound;
}

uint32_t SqliteRegistry::DeleteKey(const RegKey& key, std::string_view name) {
  std::lock_guard lock(mutex_);
  Operation operation(HiveOf(key.root));
  Hive* hivePtr = nullptr;
  if (const uint32_t rc = OpenHive(key, true, hivePtr); rc != regerr::kSuccess) return rc;
  std::vector<std::string> names;
  if (!SplitPath(name, names) || names.empty()) return regerr::kInvalidParameter;
  Hive& hive = *hivePtr;
  WriteTransaction tx(hive.db);
  if (!tx.begun()) return regerr::kRegistryIoFailed;
  std::string target = key.path;
  for (const std::string& part : names) target = Join(target, part);
  std::string stored;
  if (const uint32_t rc = StoredPath(hive.db, target, stored); rc != regerr::kSuccess) return rc;
  std::vector<std::string> doomed;
  {
    Statement st(hive.db, "SELECT path FROM reg_key");
    const std::string below = stored + "\\";
    while (st.Step() == SQLITE_ROW) {
      std::string path = st.Column(0);
      if (EqualsNoCase(path, stored) || StartsWithNoCase(path, below)) {
        doomed.push_back(std::move(path));
      }
    }
  }
  for (const std::string& path : doomed) {
    Statement values(hive.db, "DELETE FROM reg_value WHERE key = ?1");
    values.Text(1, path);
    Statement row(hive.db, "DELETE FROM reg_key WHERE path = ?1");
    row.Text(1, path);
    if (values.Step() != SQLITE_DONE || row.Step() != SQLITE_DONE) {
      return regerr::kRegistryIoFailed;
    }
  }
  return tx.Commit() ? regerr::kSuccess : regerr::kRegistryIoFailed;
}

}  // namespace tessaro
