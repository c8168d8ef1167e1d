#include "DataTestSupport.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/EngineRegistry.h"
#include "server/AppServerObject.h"
#include "server/RequestLog.h"
#include "server/SqlBackend.h"

namespace quor::data::test {

std::string BinDir() {
  const char* dir = std::getenv("QUOR_BIN_DIR");
  if (dir == nullptr) throw std::runtime_error("QUOR_BIN_DIR is not set");
  return dir;
}

void UseBuiltEngine() {
  platform::RecordEnginePath(BinDir() + "/libdsengine.so");
}

std::string TempFolder(const std::string& tag) {
  std::string tmpl = std::filesystem::temp_directory_path().string() + "/quor-" + tag + "-XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return tmpl;
}

namespace {
void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string text = error != nullptr ? error : "?";
    sqlite3_free(error);
    throw std::runtime_error("catalogue: " + text);
  }
}
std::string Q(const std::string& s) {  // an SQL literal of our own test data
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}
}  // namespace

void BuildCatalogue(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot create db");
  Exec(db,
       "create table singer(SEX varchar(10), SINGNAME varchar(40), Path varchar(80));"
       "create table vodinfo(SINGID integer, SINGNAME varchar(60), SINGER varchar(40),"
       " TYPE varchar(20), SONGLANGUAGE varchar(20), FIRSTWORD varchar(20), PATH1 varchar(120));"
       "begin;");
  const char* males[] = {"刘德华", "张学友", "黎明",   "郭富城",
                         "周杰伦", "陈奕迅", "林俊杰", "李宗盛"};
  int photo = 1;
  for (const char* m : males)
    Exec(db, "insert into singer values('男'," + Q(m) + ",'Photo\\s" + std::to_string(photo++) +
                 ".jpg')");
  for (const char* f : {"王菲", "邓丽君"})
    Exec(db, "insert into singer values('女'," + Q(f) + ",'Photo\\s" + std::to_string(photo++) +
                 ".jpg')");
  Exec(db, "insert into singer values('组合'," + Q(kGroupNameUtf8) + ",'Photo\\s99.jpg')");
  auto song = [&](int id, const std::string& title, const std::string& singer,
                  const std::string& type, const std::string& language, const std::string& first) {
    Exec(db, "insert into vodinfo values(" + std::to_string(id) + "," + Q(title) + "," + Q(singer) +
                 "," + Q(type) + "," + Q(language) + "," + Q(first) +
                 ",'\\\\quorvod\\quorvod\\songs\\" + std::to_string(id) + ".mp4')");
  };
  int id = 10001;
  for (int i = 1; i <= kLiuSongs; ++i)
    song(id++, "忘情水" + std::to_string(i), "刘德华", "流行", "国语", "WQS" + std::to_string(i));
  for (int i = 1; i <= kWangSongs; ++i)
    song(id++, "红豆" + std::to_string(i), "王菲", "摇滚", "粤语", "HD" + std::to_string(i));
  song(id++, "Stay Real", kGroupNameUtf8, "Rock'n Roll", "英语", "SR");
  song(id++, "Song of Joy", kGroupNameUtf8, "Rock'n Roll", "英语", "SOJ");
  Exec(db, "commit;");
  sqlite3_close(db);
}

int CountRoomCalls(const std::string& db, const std::string& where) {
  sqlite3* h = nullptr;
  sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  int n = -1;
  const std::string sql =
      "select count(*) from roomcall" + (where.empty() ? std::string() : " where " + where);
  if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    n = sqlite3_column_int(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(h);
  return n;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> RequestLines(const std::string& logPath) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(logPath));
  for (std::string line; std::getline(in, line);)
    if (line.find("Provider  ") != std::string::npos ||
        line.find("ROOM REQUEST") != std::string::npos)
      lines.push_back(line);
  return lines;
}

// ---- ServerProcess ---------------------------------------------------------

ServerProcess::ServerProcess(std::string dbPath, std::string logPath)
    : database_{"--db", std::move(dbPath)}, log_(std::move(logPath)) {}

ServerProcess::ServerProcess(std::vector<std::string> databaseArgs, std::string logPath)
    : database_(std::move(databaseArgs)), log_(std::move(logPath)) {}

ServerProcess::~ServerProcess() = default;

void ServerProcess::Start(std::uint16_t port) {
  std::vector<std::string> args = {BinDir() + "/quorvod-server"};
  args.insert(args.end(), database_.begin(), database_.end());
  args.insert(args.end(), {"--port", std::to_string(port), "--bind", "127.0.0.1", "--log", log_});
  child_ = std::make_unique<load::ServerChild>(std::move(args));
  try {
    child_->Start();
  } catch (const std::runtime_error& e) {
    child_.reset();
    throw std::runtime_error(std::string("quorvod-server: ") + e.what());
  }
  port_ = child_->Port();
}

void ServerProcess::Stop() {
  if (child_) child_->Stop();
}

void ServerProcess::Pause() {
  if (child_) child_->Pause();
}

void ServerProcess::Resume() {
  if (child_) child_->Resume();
}

void ServerProcess::Kill() {
  if (child_) child_->Kill();
}

// ---- RecordingPeer ---------------------------------------------------------

RecordedCall Rec(std::string op, std::string provider = {}) {
  RecordedCall c;
  c.op = std::move(op);
  c.provider = std::move(provider);
  return c;
}

// Records each call, then lets the real server object answer it.
class RecordingAppServer final : public remote::AppServerDispatcher {
 public:
  RecordingAppServer(RecordingPeer& peer, const std::string& db, server::RequestLog& log)
      : peer_(peer) {
    context_.peer = "recording-peer";
    context_.log = &log;
    context_.database = [this, db]() -> server::SqlBackend& {
      if (!backend_) backend_ = server::OpenSqliteBackend(db);
      return *backend_;
    };
    inner_ = remote::Ref<server::AppServerObject>(new server::AppServerObject(context_));
  }

  remote::HRESULT AS_GetRecords(const std::u16string& provider, std::int32_t count,
                                std::int32_t& recsOut, std::int32_t options,
                                const std::u16string& command, remote::Variant& params,
                                remote::Variant& ownerData, remote::Variant& result) override {
    RecordedCall c = Rec("AS_GetRecords", platform::Utf16ToUtf8(provider));
    c.count = count;
    c.options = options;
    c.command = platform::Utf16ToUtf8(command);
    c.command16 = command;
    c.paramsType = params.Type();
    c.ownerDataType = ownerData.Type();
    c.hr = inner_->AS_GetRecords(provider, count, recsOut, options, command, params, ownerData,
                                 result);
    if (c.hr >= 0) peer_.Rewrite(c, result, recsOut);
    c.recsOut = recsOut;
    c.answerNull = result.IsNull();
    const remote::HRESULT hr = c.hr;
    Keep(std::move(c));
    return hr;
  }
  remote::HRESULT AS_ApplyUpdates(const std::u16string& provider, const remote::Variant& delta,
                                  std::int32_t maxErrors, std::int32_t& errorCount,
                                  remote::Variant& ownerData, remote::Variant& result) override {
    RecordedCall c = Rec("AS_ApplyUpdates", platform::Utf16ToUtf8(provider));
    c.deltaType = delta.Type();
    c.maxErrors = maxErrors;
    c.ownerDataType = ownerData.Type();
    c.hr = inner_->AS_ApplyUpdates(provider, delta, maxErrors, errorCount, ownerData, result);
    c.recsOut = errorCount;
    c.answerNull = result.IsNull();
    const remote::HRESULT hr = c.hr;
    Keep(std::move(c));
    return hr;
  }
  remote::HRESULT AS_DataRequest(const std::u16string& p, const remote::Variant& d,
                                 remote::Variant& r) override {
    Keep(Rec("AS_DataRequest", platform::Utf16ToUtf8(p)));
    return inner_->AS_DataRequest(p, d, r);
  }
  remote::HRESULT AS_GetProviderNames(remote::Variant& r) override {
    Keep(Rec("AS_GetProviderNames"));
    return inner_->AS_GetProviderNames(r);
  }
  remote::HRESULT AS_GetParams(const std::u16string& p, remote::Variant& o,
                               remote::Variant& r) override {
    Keep(Rec("AS_GetParams", platform::Utf16ToUtf8(p)));
    return inner_->AS_GetParams(p, o, r);
  }
  remote::HRESULT AS_RowRequest(const std::u16string& p, const remote::Variant& row, std::int32_t t,
                                remote::Variant& o, remote::Variant& r) override {
    Keep(Rec("AS_RowRequest", platform::Utf16ToUtf8(p)));
    return inner_->AS_RowRequest(p, row, t, o, r);
  }
  remote::HRESULT AS_Execute(const std::u16string& p, const std::u16string& c,
                             remote::Variant& params, remote::Variant& o) override {
    RecordedCall r = Rec("AS_Execute", platform::Utf16ToUtf8(p));
    r.command = platform::Utf16ToUtf8(c);
    Keep(std::move(r));
    return inner_->AS_Execute(p, c, params, o);
  }

 private:
  void Keep(RecordedCall c) {
    // The inner object left its error information for the caller; keep it.
    std::optional<remote::ErrorInfo> info = remote::TakeErrorInfo();
    peer_.Record(std::move(c));
    remote::SetErrorInfo(std::move(info));
  }
  RecordingPeer& peer_;
  // Declared first, destroyed last: the inner object's cursors use it.
  std::unique_ptr<server::SqlBackend> backend_;
  server::SessionContext context_;
  remote::Ref<server::AppServerObject> inner_;
};

RecordingPeer::RecordingPeer(std::string dbPath) : db_(std::move(dbPath)) {
  logPath_ = TempFolder("peerlog") + "/requests.log";
  log_ = server::RequestLog::Open(logPath_);
  server::OpenSqliteBackend(db_)->EnsureRoomCallTable();  // as the server does at start
  registry_.Register(server::kServerClassId, server::kServerProgId, [this] {
    return remote::Ref<remote::IUnknown>(new RecordingAppServer(*this, db_, *log_));
  });
  registry_.SetValue(server::kServerClassId, "Sockets", "1");
  server_ = std::make_unique<remote::test::TestServer>(registry_);
}

RecordingPeer::~RecordingPeer() {
  server_.reset();
}

std::vector<RecordedCall> RecordingPeer::Calls() {
  const std::lock_guard lock(mutex_);
  return calls_;
}

void RecordingPeer::ClearCalls() {
  const std::lock_guard lock(mutex_);
  calls_.clear();
}

void RecordingPeer::SetAnswerHook(AnswerHook hook) {
  const std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

void RecordingPeer::Rewrite(const RecordedCall& call, remote::Variant& result,
                            std::int32_t& recsOut) {
  AnswerHook hook;
  {
    const std::lock_guard lock(mutex_);
    hook = hook_;
  }
  if (hook) hook(call, result, recsOut);
}

void RecordingPeer::Record(RecordedCall call) {
  const std::lock_guard lock(mutex_);
  calls_.push_back(std::move(call));
}

}  // namespace quor::data::test
