#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "engine/LabDialFacility.h"
#include "engine/LabPhoneBook.h"
#include "text/LocalText.h"

namespace veltrin::engine {
namespace {

namespace fs = std::filesystem;

TEST(LabPhoneBook, AwkwardNamesAndValuesSurviveTheFile) {
    lab::PhoneBookFile book;
    book.put("plain", {{"k", "v"}});
    book.put("with ] and = [x]", {{"szPassword", "a=b\nc\\d]\r"}, {"szUserName", "用户 名"}});
    book.put("plain", {{"k", "replaced"}});
    const auto back = lab::parsePhoneBook(lab::serialise(book));
    ASSERT_EQ(back.sections.size(), 2u);
    EXPECT_EQ(back.sections[0].name, "plain");
    EXPECT_EQ(back.sections[0].fields, (lab::Fields{{"k", "replaced"}}));
    EXPECT_EQ(back.sections[1].name, "with ] and = [x]");
    EXPECT_EQ(back.sections[1].fields, book.sections[1].fields);
}

TEST(LabPhoneBook, SavedFileIsPrivateAndReplacedWhole) {
    const fs::path dir = fs::temp_directory_path() / ("pbk-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const auto path = dir / "pptp.pbk";
    lab::PhoneBookFile book;
    book.put("A", {{"k", "1"}});
    ASSERT_TRUE(lab::savePhoneBook(path, book));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(lab::loadPhoneBook(path)->sections.size(), 1u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}),
              1);  // no temp left
    EXPECT_TRUE(lab::loadPhoneBook(dir / "missing.pbk")->sections.empty());
    EXPECT_FALSE(lab::savePhoneBook(dir / "no-such-dir" / "x.pbk", book));
    fs::remove_all(dir);
}

TEST(LineEndpoint, MapsAddressAndProtocolToTheLineServerPort) {
    struct Case {
        std::string address;
        int protocol;
        std::optional<std::tuple<std::string, unsigned short, std::string>> expected;
    };
    const Case cases[] = {
        {"127.1.2.3", kPptp, {{"127.1.2.3", 1723, "pptp"}}},
        {"127.1.2.3", 0, {{"127.1.2.3", 1723, "pptp"}}},
        {"127.1.2.3", kL2tp, {{"127.1.2.3", 1701, "l2tp"}}},
        {"127.1.2.3:4430", kSstp, {{"127.1.2.3", 4430, "sstp"}}},
        {"127.1.2.3", kSstp, {{"127.1.2.3", 443, "sstp"}}},
        {"localhost", kPptp, {{"127.0.0.1", 1723, "pptp"}}},
        {"127.1.2.3:4430", kPptp, std::nullopt},  // a port is no part of a PPTP host name
        {"127.1.2.3:0", kSstp, std::nullopt},
        {"127.1.2.3:99999", kSstp, std::nullopt},
        {"127.1.2.3:44x", kSstp, std::nullopt},
        {"vpn.example.invalid", kPptp, std::nullopt},
        {"", kPptp, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto ep = lineEndpoint(c.address, c.protocol);
        ASSERT_EQ(ep.has_value(), c.expected.has_value()) << c.address;
        if (ep) {
            EXPECT_EQ(std::tie(ep->host, ep->port, ep->protocol), *c.expected) << c.address;
        }
    }
}

TEST(LabErrorText, MessagesFitTheDialBufferExceptTheOneMeantNotTo) {
    for (int code : {6, 621, 623, 629, 651, 678, 691, 718, 734, 800, 809, 868}) {
        const auto t = labErrorText(code);
        ASSERT_TRUE(t.has_value()) << code;
        EXPECT_LT(text::localLength(*t), 100u) << code;
    }
    EXPECT_GE(text::localLength(*labErrorText(720)), 100u);
    EXPECT_FALSE(labErrorText(12345).has_value());
}

}  // namespace
}  // namespace veltrin::engine
