// parseVersions over messages encoded with the generated classes.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "UpdateMessage.pb.h"
#include "versionquery.h"

namespace {

using com::voxmere::update::Versions;

struct ChannelSpec {
    std::string name;
    int number;
    std::string text;
};

Versions makeVersions(int agreement, const std::vector<ChannelSpec> &channels) {
    Versions v;
    v.set_licenseagreementid(agreement);
    for (const ChannelSpec &c : channels) {
        auto *ch = v.add_channels();
        ch->set_name(c.name);
        ch->set_version_number(c.number);
        ch->set_version_string(c.text);
    }
    return v;
}

std::string encode(const Versions &v) {
    return v.SerializePartialAsString();
}

std::string stableAndBeta() {
    return encode(makeVersions(7, {{"stable", 100, "3.1.0"}, {"beta", 101, "3.1.1"}}));
}

struct ParseCase {
    const char *label;
    std::string bytes;
    int result;
    std::vector<std::string> names;
    /// (name, number, text) looked up after a successful parse.
    std::vector<ChannelSpec> lookups;
};

void PrintTo(const ParseCase &c, std::ostream *os) {
    *os << c.label;
}

std::vector<ParseCase> parseCases() {
    std::vector<ParseCase> cases;
    cases.push_back({"stable_and_beta",
                     stableAndBeta(),
                     0,
                     {"stable", "beta"},
                     {{"stable", 100, "3.1.0"}, {"beta", 101, "3.1.1"}, {"alpha", 0, ""}}});
    cases.push_back(
        {"duplicate_stable_first_wins",
         encode(makeVersions(
             1, {{"stable", 100, "3.1.0"}, {"beta", 101, "3.1.1"}, {"stable", 99, "3.0.9"}})),
         0,
         {"stable", "beta", "stable"},
         {{"stable", 100, "3.1.0"}}});
    cases.push_back({"no_channels", encode(makeVersions(5, {})), 0, {}, {{"stable", 0, ""}}});
    cases.push_back({"unknown_channel_carried",
                     encode(makeVersions(5, {{"nightly", 3, "n3"}})),
                     0,
                     {"nightly"},
                     {{"nightly", 3, "n3"}}});
    cases.push_back({"empty_body", std::string(), 2, {}, {}});
    const std::string full = stableAndBeta();
    // The second channel starts after the first (2 + its length) bytes.
    const std::size_t firstChannelEnd = 2 + 2 + static_cast<unsigned char>(full[3]);
    cases.push_back({"truncated_inside_channel", full.substr(0, firstChannelEnd + 6), 2, {}, {}});
    Versions noText = makeVersions(1, {{"stable", 100, "x"}});
    noText.mutable_channels(0)->clear_version_string();
    cases.push_back({"channel_without_version_string", encode(noText), 2, {}, {}});
    Versions noAgreement = makeVersions(1, {{"stable", 100, "3.1.0"}});
    noAgreement.clear_licenseagreementid();
    cases.push_back({"missing_license_agreement_id", encode(noAgreement), 2, {}, {}});
    cases.push_back({"garbage", std::string("\xff\xff\xff\xff", 4), 2, {}, {}});
    return cases;
}

class ParseVersionsTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseVersionsTest, ParsesOrRejects) {
    const ParseCase &c = GetParam();
    VersionInfo info;
    info.licenseAgreementId = -42;  // must survive a failed parse
    const int res = parseVersions(reinterpret_cast<const unsigned char *>(c.bytes.data()),
                                  static_cast<unsigned>(c.bytes.size()), &info);
    ASSERT_EQ(res, c.result);
    if (res != 0) {
        EXPECT_EQ(info.licenseAgreementId, -42);
        EXPECT_TRUE(info.channelNames.empty());
        return;
    }
    EXPECT_EQ(info.channelNames, c.names);
    for (const ChannelSpec &l : c.lookups) {
        EXPECT_EQ(versionNumberOf(info, l.name), l.number) << l.name;
        EXPECT_EQ(versionStringOf(info, l.name), l.text) << l.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Messages, ParseVersionsTest, ::testing::ValuesIn(parseCases()),
                         [](const ::testing::TestParamInfo<ParseCase> &i) {
                             return std::string(i.param.label);
                         });

TEST(ParseVersions, CopiesAgreementNumbers) {
    Versions v = makeVersions(12, {});
    VersionInfo info;
    std::string bytes = encode(v);
    ASSERT_EQ(parseVersions(reinterpret_cast<const unsigned char *>(bytes.data()),
                            static_cast<unsigned>(bytes.size()), &info),
              0);
    EXPECT_EQ(info.licenseAgreementId, 12);
    EXPECT_EQ(info.licenseAgreementIdMin, 0);
    v.set_licenseagreementidmin(9);
    bytes = encode(v);
    ASSERT_EQ(parseVersions(reinterpret_cast<const unsigned char *>(bytes.data()),
                            static_cast<unsigned>(bytes.size()), &info),
              0);
    EXPECT_EQ(info.licenseAgreementIdMin, 9);
}

TEST(ParseVersions, NullArgumentsGiveOne) {
    const std::string bytes = stableAndBeta();
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    VersionInfo info;
    EXPECT_EQ(parseVersions(nullptr, 4, &info), 1);
    EXPECT_EQ(parseVersions(data, static_cast<unsigned>(bytes.size()), nullptr), 1);
    EXPECT_TRUE(info.channelNames.empty());
}

TEST(VersionServerUrl, PathIsFixed) {
    const std::string url = versionServerUrl;
    EXPECT_EQ(url.rfind("http://", 0), 0u);
    EXPECT_EQ(url.substr(url.size() - std::string("/vxm-client-2").size()), "/vxm-client-2");
}

}  // namespace
