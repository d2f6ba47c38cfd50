#include "service/ServerListModel.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "LoopbackServers.h"
#include "ServerListFixtures.h"
#include "service/Endpoints.h"
#include "service/Fetch.h"
#include "service/RemoteParameters.h"
#include "text/LocalText.h"

namespace veltrin::service {
namespace {

namespace fs = std::filesystem;
using namespace testing::server_list;
using testing::HttpServer;

class RecordingSink final : public ServerListSink {
public:
    void setRefreshEnabled(bool enabled) override {
        events.push_back(enabled ? "refresh on" : "refresh off");
    }
    void setStatusLine(const std::string& text) override {
        statusLines.push_back(text);
        events.push_back("status");
    }
    void showMessage(const InfoMessage& message) override {
        messages.push_back(message);
        events.push_back("message");
    }
    void listChanged(ServerListId list) override {
        events.push_back("list " + std::to_string(static_cast<int>(list)));
    }

    std::vector<std::string> events;
    std::vector<std::string> statusLines;
    std::vector<InfoMessage> messages;
};

// The service's list and speed endpoints on loopback, and a settings directory of its own.
class ServiceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "veltrin-serverlist-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        settings = pattern;
        http.server().Get("/servers.json", [this](const httplib::Request&, httplib::Response& r) {
            ++listRequests;
            std::lock_guard lock(mutex);
            r.set_content(listBody, "application/json");
        });
        http.server().Get("/speed.txt", [this](const httplib::Request&, httplib::Response& r) {
            ++speedRequests;
            std::lock_guard lock(mutex);
            r.set_content(speedBody, "text/plain");
        });
        http.start();
    }
    void TearDown() override { fs::remove_all(settings); }

    void serve(std::string list, std::string speeds = {}) {
        std::lock_guard lock(mutex);
        listBody = std::move(list);
        speedBody = text::toLocal(speeds);
    }
    void writeFile(std::string_view name, const std::string& utf8) {
        std::ofstream(settings / name, std::ios::binary) << text::toLocal(utf8);
    }
    ServerListSources sources() const {
        return {http.url("/servers.json"), http.url("/speed.txt"), settings};
    }
    ServerListSources serviceDown() const {
        const std::string down = "http://127.0.0.1:" + std::to_string(testing::unusedPort());
        return {down + "/servers.json", down + "/speed.txt", settings};
    }

    HttpServer http;
    fs::path settings;
    std::mutex mutex;
    std::string listBody;
    std::string speedBody;
    std::atomic<int> listRequests{0};
    std::atomic<int> speedRequests{0};
    RecordingSink sink;
    ServerListModel model;
};

std::vector<std::string> namesOf(const std::vector<ServerEntry>& rows) {
    std::vector<std::string> names;
    for (const auto& row : rows) {
        names.push_back(row.name);
    }
    return names;
}

const std::vector<std::string> kExampleNames = {"[全国]列表混拨", "上海电信1",       "上海电信2",
                                                "上海电信3",      "[上海电]3市混拨", "广东移动1",
                                                "广东移动2",      "浙江联通1"};

TEST_F(ServiceFixture, LoadFromTheServiceWithSpeeds) {
    serve(answerOf(exampleServers()), "【上海电信2】[100兆](约2000个IP)\r\n");
    writeFile(kFallbackListFile, answerOf({{"不该读到", "1", "127.0.9.9", "x"}}));

    model.load(sources(), sink);

    const auto rows = model.rows(ServerListId::full);
    EXPECT_EQ(namesOf(rows), kExampleNames);
    EXPECT_EQ(rows[2].speed, "100兆");
    EXPECT_EQ(rows[2].remark, "约2000个IP");
    EXPECT_EQ(speedRequests, 1);
    EXPECT_EQ(sink.statusLines.back(),
              "列表加载完毕，共有8个城市线路可选用，请先填好用户名密码和选择线路再点击[启动连接]"
              "即可换IP！");
    EXPECT_EQ(sink.statusLines.front(), "稍等，列表加载中，正在加载第2个城市线路！");
    EXPECT_EQ(sink.statusLines.size(), 7u);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(sink.events.front(), "refresh off");
    EXPECT_EQ(sink.events.back(), "refresh on");
}

TEST_F(ServiceFixture, SpeedFileWhenTheSpeedEndpointIsEmpty) {
    serve(answerOf(exampleServers()), "");
    writeFile(kSpeedListFile, "【浙江联通1】[30兆](约100个IP)\r\n");

    model.load(sources(), sink);

    const auto rows = model.rows(ServerListId::full);
    EXPECT_EQ(rows.back().speed, "30兆");
    EXPECT_EQ(rows.back().remark, "约100个IP");
    EXPECT_EQ(speedRequests, 1);
}

TEST_F(ServiceFixture, FallbackFileWhenTheAnswerIsUnusable) {
    writeFile(kFallbackListFile, answerOf(exampleServers()));
    const struct {
        const char* name;
        std::string body;
    } cases[] = {
        {"empty", ""},
        {"no name", "[]"},
        {"larger than any answer", std::string(kMaxFetchBodyBytes + 1, 'n')},
    };
    for (const auto& c : cases) {
        serve(c.body);
        RecordingSink s;
        model.load(sources(), s);
        EXPECT_EQ(namesOf(model.rows(ServerListId::full)), kExampleNames) << c.name;
        EXPECT_TRUE(s.messages.empty()) << c.name;
    }
    RecordingSink s;
    model.load(serviceDown(), s);
    EXPECT_EQ(namesOf(model.rows(ServerListId::full)), kExampleNames) << "service down";
}

TEST_F(ServiceFixture, NothingToLoadTellsTheUser) {
    model.setFullList({nationwideMixRow()});
    model.load(serviceDown(), sink);

    EXPECT_EQ(model.rowCount(ServerListId::full), 0u);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].title, "友情提醒");
    EXPECT_EQ(sink.messages[0].text,
              "列表加载失败，请您确认本地能正常上网的状态下，例如打开浏览器百度一下，正常上网的，"
              "请点击[刷新列表]重新加载列表再使用！\r\n有问题的请联系软件上的客服索要最新的服务器地"
              "址netkarplist.ini文件并且放到本软件同目录vlset目录下！");
    // No final count for an empty list; the user can refresh again.
    EXPECT_EQ(sink.statusLines,
              (std::vector<std::string>{"稍等，列表加载中，正在加载第0个城市线路！"}));
    EXPECT_EQ(sink.events.back(), "refresh on");
}

TEST_F(ServiceFixture, AnswerNamingNoServerKeepsTheFallbackUnread) {
    serve(R"([{"names":[]}])");
    writeFile(kFallbackListFile, answerOf(exampleServers()));

    model.load(sources(), sink);

    EXPECT_EQ(namesOf(model.rows(ServerListId::full)),
              (std::vector<std::string>{"[全国]列表混拨"}));
    EXPECT_EQ(speedRequests, 0);
}

// The remote address wins; without one the built-in address is used and left in the record.
TEST(ServerListSources, RemoteAddressElseBuiltInStored) {
    const auto saved = loadRemoteParameters();
    RemoteParameters remote = *saved;
    remote.serverListUrl = "http://127.0.0.1:9/remote.json";
    publishRemoteParameters(remote);
    EXPECT_EQ(currentServerListSources("/tmp/x").serverListUrl, "http://127.0.0.1:9/remote.json");

    remote.serverListUrl.clear();
    publishRemoteParameters(remote);
    const auto sources = currentServerListSources("/tmp/x");
    EXPECT_EQ(sources.serverListUrl, endpointAddress(Endpoint::serverList));
    EXPECT_EQ(loadRemoteParameters()->serverListUrl, sources.serverListUrl);
    EXPECT_EQ(sources.speedListUrl, endpointAddress(Endpoint::speedList));
    EXPECT_EQ(sources.settingsDirectory, fs::path("/tmp/x"));
    publishRemoteParameters(*saved);
}

// A list for the choice rules: the example plus a "超级" server in group A and a server of its
// own group that is under maintenance.
std::vector<ServerEntry> exampleRows() {
    auto servers = exampleServers();
    servers.insert(servers.begin() + 3, {"上海电信超级4", "1", "127.0.1.4", "sh4.lines.test"});
    servers.push_back({"江苏电信1", "0", "127.0.5.1", "js1.lines.test"});
    return buildServerRows(answerOf(servers), [] { return std::string(); });
}

// Fails the test when the model draws at all.
std::size_t noDraw(std::size_t count) {
    ADD_FAILURE() << "drew from a pool of " << count;
    return 0;
}

std::size_t rowNamed(const ServerListModel& model, ServerListId list, std::string_view name) {
    const auto rows = model.rows(list);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].name == name) {
            return i;
        }
    }
    ADD_FAILURE() << "no row " << name;
    return rows.size();
}

TEST(ServerListSearch, FiltersTheFullListByName) {
    const struct {
        const char* name;
        std::string text;
        bool active;
        std::vector<std::string> names;
    } cases[] = {
        {"substring",
         "上海",
         true,
         {"上海电信1", "上海电信2", "上海电信3", "上海电信超级4", "[上海电]4市混拨"}},
        {"trimmed", " 移动 ", true, {"广东移动1", "广东移动2"}},
        {"digits match anywhere", "4", true, {"上海电信超级4", "[上海电]4市混拨"}},
        {"no match", "北京", true, {}},
        {"case-sensitive", "SH", true, {}},
        {"blanks only match every row", "  ", true, namesOf(exampleRows())},
        {"empty ends the search", "", false, {}},
    };
    for (const auto& c : cases) {
        ServerListModel model;
        model.setFullList(exampleRows());
        model.search(c.text);
        EXPECT_EQ(model.searchActive(), c.active) << c.name;
        if (c.active) {
            EXPECT_EQ(namesOf(model.rows(ServerListId::search)), c.names) << c.name;
        }
    }
}

TEST(ServerListSearch, RowsAreWholeCopies) {
    ServerListModel model;
    model.setFullList(exampleRows());
    model.search("广东移动2");
    ASSERT_EQ(model.rowCount(ServerListId::search), 1u);
    EXPECT_EQ(model.rows(ServerListId::search)[0],
              model.rows(ServerListId::full)[rowNamed(model, ServerListId::full, "广东移动2")]);
}

TEST(ServerListChoice, ServerAndMixRows) {
    const auto last = [](std::size_t count) { return count - 1; };
    const struct {
        const char* name;
        std::string row;
        bool sstp;
        std::string address;
        std::optional<int> selectedRow;
        std::vector<std::string> pool;
    } cases[] = {
        {"server, PPTP or L2TP", "广东移动1", false, "127.0.2.1", {}, {}},
        {"server, SSTP", "广东移动1", true, "gd1.lines.test:4430", {}, {}},
        {"province mix",
         "[上海电]4市混拨",
         false,
         "127.0.1.4",
         3,
         {"上海电信1", "上海电信2", "上海电信3", "上海电信超级4"}},
        {"province mix, SSTP",
         "[上海电]4市混拨",
         true,
         "sh4.lines.test:4430",
         3,
         {"上海电信1", "上海电信2", "上海电信3", "上海电信超级4"}},
        {"nationwide leaves out 超级 and maintenance",
         "[全国]列表混拨",
         true,
         "zj1.lines.test:4430",
         4,
         {"上海电信1", "上海电信2", "上海电信3", "广东移动1", "浙江联通1"}},
    };
    for (const auto& c : cases) {
        ServerListModel model(last);
        model.setFullList(exampleRows());
        const auto choice = model.choose(rowNamed(model, ServerListId::full, c.row), c.sstp);
        ASSERT_TRUE(choice) << c.name;
        EXPECT_EQ(choice->lineName, c.row) << c.name;
        EXPECT_EQ(choice->serverAddress, c.address) << c.name;
        EXPECT_EQ(choice->selectedRow, c.selectedRow) << c.name;
        EXPECT_FALSE(choice->maintenanceNotice) << c.name;
        EXPECT_EQ(choice->statusLine,
                  "您已选中【" + c.row + "】，请点击[启动连接]，连接成功即可换IP")
            << c.name;
        if (!c.pool.empty()) {
            const auto pool = model.rows(ServerListId::pool);
            EXPECT_EQ(namesOf(pool), c.pool) << c.name;
            // The pool keeps name, status and both addresses only.
            EXPECT_EQ(pool[0], (ServerEntry{"上海电信1", "", "1", "127.0.1.1", "", "",
                                            "sh1.lines.test:4430", ""}))
                << c.name;
        }
    }
}

TEST(ServerListChoice, ProvinceMixKeepsItsGroupKey) {
    ServerListModel model;
    model.setFullList(exampleRows());
    const auto choice = model.choose(rowNamed(model, ServerListId::full, "[上海电]4市混拨"), false);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->mixGroupKey, "上海电");
    EXPECT_EQ(model.mixGroupKey(), "上海电");
}

TEST(ServerListChoice, ServerUnderMaintenanceWarnsAndStillChooses) {
    ServerListModel model;
    model.setFullList(exampleRows());
    const auto choice = model.choose(rowNamed(model, ServerListId::full, "广东移动2"), false);
    ASSERT_TRUE(choice);
    EXPECT_EQ(
        choice->maintenanceNotice,
        (InfoMessage{"请换城市",
                     "此城市 维护中 ，有99.8%可能连接不上，请先换用其它城市再使用，谢谢谅解！"}));
    EXPECT_EQ(choice->serverAddress, "127.0.2.2");
    EXPECT_EQ(choice->lineName, "广东移动2");
}

TEST(ServerListChoice, RandomDrawStaysInThePool) {
    ServerListModel model;
    model.setFullList(exampleRows());
    const auto mix = rowNamed(model, ServerListId::full, "[全国]列表混拨");
    for (int i = 0; i < 50; ++i) {
        const auto choice = model.choose(mix, i % 2 == 1);
        ASSERT_TRUE(choice && choice->selectedRow);
        const auto pool = model.rows(ServerListId::pool);
        ASSERT_LT(static_cast<std::size_t>(*choice->selectedRow), pool.size());
        const auto& drawn = pool[*choice->selectedRow];
        EXPECT_EQ(choice->serverAddress, i % 2 == 1 ? drawn.sstpAddress : drawn.ip);
        const auto again = model.drawFromPool(false);
        EXPECT_EQ(again.serverAddress, pool.at(again.selectedRow).ip);
    }
}

// Nothing to draw from: no address and row 0, never a row past the end.
TEST(ServerListChoice, EmptyPoolGivesNoAddress) {
    ServerListModel model(noDraw);
    model.setFullList(buildServerRows(
        answerOf({{"超级上海1", "1", "127.0.6.1", "c"}, {"江苏电信1", "0", "127.0.5.1", "j"}}),
        [] { return std::string(); }));
    const auto choice = model.choose(0, false);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->lineName, "[全国]列表混拨");
    EXPECT_EQ(choice->serverAddress, "");
    EXPECT_EQ(choice->selectedRow, 0);
    EXPECT_EQ(model.drawFromPool(true), (PoolDraw{0, ""}));
}

TEST(ServerListChoice, VisibleListDecidesTheRow) {
    ServerListModel model;
    model.setFullList(exampleRows());
    model.search("浙江");
    const auto choice = model.choose(0, false);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->lineName, "浙江联通1");
    EXPECT_FALSE(model.choose(1, false)) << "past the end of the search list";

    model.search("");
    EXPECT_EQ(model.choose(0, false)->lineName, "[全国]列表混拨");
}

// A mix row taken from the search list while a load has emptied the full list.
TEST(ServerListChoice, MixRowDuringALoad) {
    ServerListModel model(noDraw);
    model.setFullList(exampleRows());
    model.search("全国");
    model.setFullList({});
    const auto choice = model.choose(0, false);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->serverAddress, "");
    EXPECT_EQ(model.rowCount(ServerListId::pool), 0u);
}

}  // namespace
}  // namespace veltrin::service
