#include "WebService.h"

#include <httplib.h>
#include <openssl/evp.h>

#include <chrono>
#include <ctime>
#include <stdexcept>
#include <thread>

#include "Lab.h"
#include "text/LocalText.h"

namespace veltrin::lab {
namespace {

using ordered = nlohmann::ordered_json;

constexpr std::int64_t kDefaultAccountDays = 30;

std::int64_t realUnixMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string percentDecoded(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            const int hi = hexDigit(s[i + 1]);
            const int lo = hexDigit(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(s[i] == '+' ? ' ' : s[i]);
    }
    return out;
}

// Chinese stays raw UTF-8, as the client reads answers by markers.
std::string dumpJson(const ordered& value) {
    return value.dump(-1, ' ', false, ordered::error_handler_t::replace);
}

void replaceAll(std::string& s, std::string_view from, std::string_view to) {
    for (auto at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
        s.replace(at, from.size(), to);
    }
}

const QueryParam* find(const std::vector<QueryParam>& params, std::string_view name) {
    for (const QueryParam& p : params) {
        if (p.name == name) {
            return &p;
        }
    }
    return nullptr;
}

std::optional<std::int64_t> wholeNumber(const std::string& s) {
    if (s.empty() || s.size() > 18) {
        return std::nullopt;
    }
    std::int64_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        n = n * 10 + (c - '0');
    }
    return n;
}

std::string lowerHex(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'F') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

void answerLocal(httplib::Response& res, const std::string& utf8, const char* type) {
    res.set_content(text::toLocal(utf8), std::string(type) + "; charset=gbk");
}

void answerUtf8(httplib::Response& res, const std::string& utf8, const char* type) {
    res.set_content(utf8, std::string(type) + "; charset=utf-8");
}

std::string page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
           "</title></head>\n<body>\n" + body + "\n</body></html>\n";
}

// A small fixed file stands in for the installer; its bytes name what it is.
std::string updateFileBytes() {
    std::string bytes = "VELTRIN-UPDATE\n";
    for (int i = 0; i < 256; ++i) {
        bytes.push_back(static_cast<char>(i));
    }
    return bytes;
}

}  // namespace

std::vector<QueryParam> parseQuery(std::string_view raw) {
    std::vector<QueryParam> params;
    std::size_t at = 0;
    while (at <= raw.size()) {
        auto end = raw.find('&', at);
        if (end == std::string_view::npos) {
            end = raw.size();
        }
        const std::string_view piece = raw.substr(at, end - at);
        at = end + 1;
        if (piece.empty()) {
            continue;
        }
        const auto eq = piece.find('=');
        params.push_back(
            {percentDecoded(piece.substr(0, eq)),
             eq == std::string_view::npos ? "" : percentDecoded(piece.substr(eq + 1))});
    }
    return params;
}

std::string md5HexOfBytes(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) {
        return {};
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kDigits[digest[i] >> 4]);
        hex.push_back(kDigits[digest[i] & 0x0F]);
    }
    return hex;
}

std::int64_t labSignTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return static_cast<std::int64_t>(now) + local.tm_gmtoff - 8 * 3600;
}

std::string remoteParameterText(const WebConfig& config, Scenario scenario,
                                const std::string& origin) {
    const RemoteParamsConfig& p = config.params;
    std::string version = p.version;
    std::string withdrawn = p.withdrawn;
    std::string autoUpdate = "no";
    std::string showNotes = "no";
    if (scenario == Scenario::ForceUpdate) {
        version = "9.90";
        autoUpdate = "yes";
    } else if (scenario == Scenario::Withdraw) {
        version = "9.90";
        withdrawn = "是";
        showNotes = "yes";
    }
    const std::string& key = config.signKey;
    const std::string& apiid = config.apiid;
    std::vector<std::pair<std::string, std::string>> keys = {
        {"服务器列表网址", origin + "/client/servers.json"},
        {"ip查询网址1", origin + "/ip/first.html"},
        {"ip查询网址1ip前", "<dd class=#引号fz24#引号>"},
        {"ip查询网址1ip后", "<"},
        {"ip查询网址1地址前", "<dd>"},
        {"ip查询网址1地址后", "<"},
        {"ip查询网址2", origin + "/ip/second.html"},
        {"ip查询网址2前", "您的IP地址：<span class=#引号c-red#引号>"},
        {"ip查询网址2后", "<"},
        {"用户到期查询网址用户名前", origin + "/api/expiry?user="},
        {"用户到期查询网址密码前", "&passwd="},
        {"北京时间网址", origin + "/time/public"},
        {"北京时间网址前", "var time = '"},
        {"北京时间网址后", "';"},
        {"登陆账户验证网址", origin + "/api/check"},
        {"登陆账户验证apiid", "?apiid=" + apiid + "&sendtime="},
        {"登陆账户验证apiidmd5", "apiid=" + apiid + "&sendtime="},
        {"登陆账户验证密钥md5", key},
        {"在线状态踢线网址", origin + "/api/online"},
        {"在线状态踢线apiid", "?apiid=" + apiid + "&id="},
        {"在线状态踢线apiidmd5", "apiid=" + apiid + "&id="},
        {"在线状态踢线密钥md5", key},
        {"qq客服号码", "800083615"},
        {"是否启动自动更新", autoUpdate},
        {"是否提示更新内容", showNotes},
        {"过期时间戳前", "#引号end_time#引号:"},
        {"过期时间戳后", ","},
        {"自动更新地址", origin + "/download/veltrin-update.bin"},
        {"自动更新软件名称", "veltrin-update.bin"},
    };
    auto overrides = p.keys;
    std::string lines;
    const auto emit = [&](const std::string& name, std::string value) {
        replaceAll(value, "{web}", origin);
        lines += name + "=[" + value + "]\r\n";
    };
    for (const auto& [name, value] : keys) {
        const auto over = overrides.find(name);
        if (over == overrides.end()) {
            emit(name, value);
            continue;
        }
        if (over->second) {
            emit(name, *over->second);
        }
        overrides.erase(over);
    }
    for (const auto& [name, value] : overrides) {
        if (value) {
            emit(name, *value);
        }
    }
    std::string download = p.downloadPage.value_or(origin + "/download/");
    replaceAll(download, "{web}", origin);
    // Head marks first: the client takes the first "【", "+", "<" and "[" of the text.
    return "【" + version + "】+" + withdrawn + "+<" + p.notes + ">[" + download + "]\r\n" + lines;
}

struct WebService::Impl {
    Impl(Lab& l, WebConfig c) : lab(l), config(std::move(c)) {}

    void routes(WebService& owner);
    std::string origin() const { return http->url(); }
    std::int64_t nowMs() const;
    // The address the internet sees now and its place.
    std::pair<std::string, std::string> publicAddress() const;
    ordered serverList() const;
    std::string speedList() const;
    // Checks apiid, signature and freshness; the refusal text, or nothing when it passed.
    std::optional<std::string> refusal(const std::vector<QueryParam>& params,
                                       std::initializer_list<const char*> required) const;
    ordered accountCheck(const std::vector<QueryParam>& params);
    ordered logoff(const std::vector<QueryParam>& params);
    ordered expiry(const std::vector<QueryParam>& params) const;
    // Online sessions, of one user or of all: open tunnels first, then left-over ones.
    nlohmann::json sessions(const std::optional<std::string>& user) const;

    struct AccountRecord {
        std::string password;
        std::int64_t endTime = 0;
    };

    Lab& lab;
    WebConfig config;
    std::vector<LineConfig> lines;
    WebFront* http = nullptr;
    httplib::Server server;
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;
    std::optional<std::int64_t> clockMs;
    std::map<std::string, AccountRecord> accounts;
    std::map<std::string, std::string> leftovers;  // id -> user
    std::uint64_t nextLeftover = 1;
};

std::int64_t WebService::Impl::nowMs() const {
    std::lock_guard lock(mutex);
    return clockMs ? *clockMs : realUnixMillis();
}

std::pair<std::string, std::string> WebService::Impl::publicAddress() const {
    if (const auto tunnel = lab.newestTunnel()) {
        return {tunnel->publicIp, tunnel->line};
    }
    return {config.homeIp, config.homePlace};
}

ordered WebService::Impl::serverList() const {
    ordered list = ordered::array();
    if (config.serversFromLines) {
        for (const auto& line : lab.lines()) {
            const std::string address = line.at("address").get<std::string>();
            list.push_back({{"name", line.at("name").get<std::string>()},
                            {"status", line.at("status") == "maintenance" ? "0" : "1"},
                            {"ip", address},
                            {"address", address}});
        }
    }
    for (const ServerListEntry& s : config.servers) {
        list.push_back(
            {{"name", s.name}, {"status", s.status}, {"ip", s.ip}, {"address", s.address}});
    }
    return list;
}

std::string WebService::Impl::speedList() const {
    std::string text;
    for (const SpeedEntry& s : config.speeds) {
        text += "【" + s.name + "】[" + s.speed + "](" + s.remark + ")\r\n";
    }
    if (config.serversFromLines) {
        for (const LineConfig& line : lines) {
            text += "【" + line.name + "】[10兆到20兆](约" + std::to_string(line.pool.size()) +
                    "个IP轮换)\r\n";
        }
    }
    return text;
}

std::optional<std::string> WebService::Impl::refusal(
    const std::vector<QueryParam>& params, std::initializer_list<const char*> required) const {
    for (const char* name : required) {
        if (find(params, name) == nullptr) {
            return "参数错误";
        }
    }
    if (find(params, "apiid")->value != config.apiid) {
        return "apiid错误";
    }
    // The signed text is the query's own parameters, decoded, in order, without the signature.
    std::string signedText;
    for (const QueryParam& p : params) {
        if (p.name == "sign") {
            continue;
        }
        if (!signedText.empty()) {
            signedText += '&';
        }
        signedText += p.name + "=" + p.value;
    }
    if (lowerHex(find(params, "sign")->value) != md5HexOfBytes(signedText + config.signKey)) {
        return "签名错误";
    }
    const auto sent = wholeNumber(find(params, "sendtime")->value);
    if (!sent || std::llabs(*sent - labSignTimestamp()) > config.signWindowS) {
        return "请求超时";
    }
    return std::nullopt;
}

ordered WebService::Impl::accountCheck(const std::vector<QueryParam>& params) {
    ordered answer = {{"data", nullptr}, {"info", ""}};
    if (auto refused = refusal(params, {"apiid", "sendtime", "user", "sign"})) {
        answer["info"] = *refused;
        return answer;
    }
    const std::string user = text::fromLocal(find(params, "user")->value);
    std::optional<AccountRecord> account;
    {
        std::lock_guard lock(mutex);
        if (const auto it = accounts.find(user); it != accounts.end()) {
            account = it->second;
        }
    }
    if (!account) {
        answer["info"] = "用户不存在";
        return answer;
    }
    if (account->endTime * 1000 <= nowMs()) {
        answer["info"] = "账户已过期";
        return answer;
    }
    const auto online = sessions(user);
    if (!online.empty()) {
        // The session object begins with its id: the client cuts data at the first ",\"".
        answer["data"] = ordered{{"id", online.front().at("id")}, {"user", user}};
        answer["info"] = config.onlineInfo;
    }
    return answer;
}

nlohmann::json WebService::Impl::sessions(const std::optional<std::string>& user) const {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& tunnel : lab.sessions()) {
        const std::string owner = tunnel.at("user").get<std::string>();
        if (!user || owner == *user) {
            list.push_back({{"id", "s-" + std::to_string(tunnel.at("id").get<std::uint64_t>())},
                            {"user", owner},
                            {"line", tunnel.at("line")},
                            {"tunnel", true}});
        }
    }
    std::lock_guard lock(mutex);
    for (const auto& [id, owner] : leftovers) {
        if (!user || owner == *user) {
            list.push_back({{"id", id}, {"user", owner}, {"line", ""}, {"tunnel", false}});
        }
    }
    return list;
}

ordered WebService::Impl::logoff(const std::vector<QueryParam>& params) {
    ordered answer = {{"data", nullptr}, {"info", ""}};
    if (auto refused = refusal(params, {"apiid", "id", "sendtime", "sign"})) {
        answer["info"] = *refused;
        return answer;
    }
    const std::string id = find(params, "id")->value;
    {
        std::lock_guard lock(mutex);
        if (leftovers.erase(id) > 0) {
            answer["info"] = "踢线成功";
            return answer;
        }
    }
    if (id.starts_with("s-")) {
        if (const auto number = wholeNumber(id.substr(2)); number && lab.drop(*number)) {
            answer["info"] = "踢线成功";
            return answer;
        }
    }
    answer["info"] = "该用户不在线";
    return answer;
}

ordered WebService::Impl::expiry(const std::vector<QueryParam>& params) const {
    const QueryParam* userParam = find(params, "user");
    const QueryParam* passwordParam = find(params, "passwd");
    const std::string user = userParam ? text::fromLocal(userParam->value) : std::string();
    std::optional<AccountRecord> account;
    {
        std::lock_guard lock(mutex);
        if (const auto it = accounts.find(user); it != accounts.end()) {
            account = it->second;
        }
    }
    if (!account || passwordParam == nullptr ||
        text::fromLocal(passwordParam->value) != account->password) {
        return {{"info", "用户名或密码错误"}, {"user", user}};
    }
    // end_time must be followed by another member: the client reads up to the next quote.
    if (account->endTime * 1000 <= nowMs()) {
        return {{"info", "账户已过期"}, {"end_time", account->endTime}, {"user", user}};
    }
    return {{"info", ""}, {"end_time", account->endTime}, {"user", user}};
}

void WebService::Impl::routes(WebService& owner) {
    using Req = httplib::Request;
    using Res = httplib::Response;
    const auto query = [](const Req& req) {
        const auto q = req.target.find('?');
        return parseQuery(q == std::string::npos ? std::string_view()
                                                 : std::string_view(req.target).substr(q + 1));
    };

    server.Get("/client/params.txt", [this, &owner](const Req&, Res& res) {
        answerLocal(res, remoteParameterText(config, owner.scenario(), origin()), "text/plain");
    });
    server.Get("/client/servers.json", [this](const Req&, Res& res) {
        answerUtf8(res, dumpJson(serverList()), "application/json");
    });
    server.Get("/client/speed.txt",
               [this](const Req&, Res& res) { answerLocal(res, speedList(), "text/plain"); });
    server.Get("/api/check", [this, query](const Req& req, Res& res) {
        answerUtf8(res, dumpJson(accountCheck(query(req))), "application/json");
    });
    server.Get("/api/online", [this, query](const Req& req, Res& res) {
        answerUtf8(res, dumpJson(logoff(query(req))), "application/json");
    });
    server.Get("/api/expiry", [this, query](const Req& req, Res& res) {
        answerUtf8(res, dumpJson(expiry(query(req))), "application/json");
    });
    server.Get("/time/service", [this](const Req&, Res& res) {
        answerUtf8(
            res, "{\"code\":1,\"msg\":\"ok\",\"t\":\"data:" + std::to_string(nowMs()) + ".000\"}\n",
            "text/plain");
    });
    server.Get("/time/public", [this](const Req&, Res& res) {
        answerUtf8(res, "var time = '" + std::to_string(nowMs()) + "';\n",
                   "application/javascript");
    });
    server.Get("/ip/first.html", [this](const Req&, Res& res) {
        const auto [address, place] = publicAddress();
        answerUtf8(res,
                   page("IP地址查询", "<dl class=\"ip\">\n<dt>您的IP地址</dt><dd class=\"fz24\">" +
                                          address + "</dd>\n<dt>所在地区</dt><dd>" + place +
                                          "</dd>\n</dl>"),
                   "text/html");
    });
    server.Get("/ip/second.html", [this](const Req&, Res& res) {
        const auto [address, place] = publicAddress();
        answerUtf8(res,
                   page("我的IP", "<p>您的IP地址：<span class=\"c-red\">" + address +
                                      "</span></p>\n<p>运营商：" + place + "</p>"),
                   "text/html");
    });
    server.Get("/ip/echo", [this](const Req&, Res& res) {
        const auto [address, place] = publicAddress();
        answerLocal(res, "当前 IP：[" + address + "] 来自：" + place + "\r\n", "text/plain");
    });
    server.Get("/notice.html", [](const Req&, Res& res) {
        answerUtf8(res, page("公告", "<h3>Veltrin 公告</h3>\n<p>线路维护期间请换用其它城市。</p>"),
                   "text/html");
    });
    server.Get("/signup.html", [](const Req&, Res& res) {
        answerUtf8(res, page("注册和续费", "<h3>注册账户</h3>\n<p>开通和续费请联系客服。</p>"),
                   "text/html");
    });
    server.Get("/terms.html", [](const Req&, Res& res) {
        answerUtf8(res, page("服务条款", "<h3>服务条款</h3>\n<p>本服务仅限合法用途。</p>"),
                   "text/html");
    });
    server.Get("/tutorial.txt", [this](const Req&, Res& res) {
        answerLocal(res, "视频教程：" + origin() + "/tutorial.html\r\n", "text/plain");
    });
    server.Get("/download/", [this](const Req&, Res& res) {
        answerUtf8(res,
                   page("下载", "<p><a href=\"" + origin() +
                                    "/download/veltrin-update.bin\">下载最新版本</a></p>"),
                   "text/html");
    });
    server.Get("/download/veltrin-update.bin", [](const Req&, Res& res) {
        res.set_content(updateFileBytes(), "application/octet-stream");
    });

    server.set_error_handler([](const Req& req, Res& res) {
        if (res.body.empty()) {
            const std::string status = std::to_string(res.status);
            answerUtf8(res, page(status, "<p>" + status + " 找不到页面</p>"), "text/html");
        }
    });
    server.set_exception_handler([](const Req&, Res& res, std::exception_ptr) {
        res.status = 500;
        answerUtf8(res, page("500", "<p>服务器错误</p>"), "text/html");
    });
}

WebService::WebService(Lab& lab, WebConfig config, const std::vector<LineConfig>& lines)
    : impl_(std::make_unique<Impl>(lab, std::move(config))), scenario_(impl_->config.scenario) {
    Impl& i = *impl_;
    i.lines = lines;
    i.clockMs = i.config.clockMs;
    const std::int64_t nowS = i.nowMs() / 1000;
    for (const LineConfig& line : lines) {
        for (const Account& a : line.accounts) {
            i.accounts[a.user] = {a.password, nowS + kDefaultAccountDays * 86400};
        }
    }
    for (const WebAccount& a : i.config.accounts) {
        i.accounts[a.user] = {
            a.password,
            a.endTime ? *a.endTime : nowS + a.expiresInS.value_or(kDefaultAccountDays * 86400)};
    }
    i.routes(*this);
}

WebService::~WebService() {
    stop();
}

void WebService::start() {
    Impl& i = *impl_;
    i.server.set_keep_alive_max_count(1);
    i.server.set_keep_alive_timeout(2);
    i.port = i.server.bind_to_any_port("127.0.0.1");
    if (i.port <= 0) {
        throw std::runtime_error("cannot bind the inner web server on 127.0.0.1");
    }
    i.thread = std::thread([&i] { i.server.listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!i.server.is_running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("the inner web server did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    tls_ = makeSelfSignedServerContext();
    http_ = std::make_unique<WebFront>("http", nullptr, scenario_, log_);
    https_ = std::make_unique<WebFront>("https", tls_.get(), scenario_, log_);
    http_->start(i.config.port, static_cast<std::uint16_t>(i.port));
    i.http = http_.get();
    https_->start(i.config.tlsPort, static_cast<std::uint16_t>(i.port));
}

void WebService::stop() {
    if (https_) {
        https_->stop();
    }
    if (http_) {
        http_->stop();
    }
    if (impl_->thread.joinable()) {
        impl_->server.stop();
        impl_->thread.join();
    }
}

std::string WebService::url() const {
    return http_ ? http_->url() : std::string();
}

std::string WebService::tlsUrl() const {
    return https_ ? https_->url() : std::string();
}

std::int64_t WebService::clockMs() const {
    return impl_->nowMs();
}

void WebService::setClockMs(std::optional<std::int64_t> ms) {
    std::lock_guard lock(impl_->mutex);
    impl_->clockMs = ms;
}

void WebService::setAccount(const std::string& user, const std::string& password,
                            std::int64_t endTime) {
    std::lock_guard lock(impl_->mutex);
    impl_->accounts[user] = {password, endTime};
}

std::string WebService::addLeftoverSession(const std::string& user) {
    std::lock_guard lock(impl_->mutex);
    const std::string id = "L-" + std::to_string(impl_->nextLeftover++);
    impl_->leftovers[id] = user;
    return id;
}

nlohmann::json WebService::onlineSessions() const {
    return impl_->sessions(std::nullopt);
}

}  // namespace veltrin::lab
