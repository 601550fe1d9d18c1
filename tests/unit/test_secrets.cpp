#include <gtest/gtest.h>

#include "Cluster/ClusterSecrets.h"

namespace {

using Cluster::MaskHeaderLine;
using Cluster::MaskSecrets;
using Cluster::MaskUrl;
using Cluster::Quote;

TEST(SecretMasking, MasksPasswordAndTokenValuesOnly) {
    EXPECT_EQ(R"({"password":"***","username":"admin"})",
              MaskSecrets(R"({"password":"s3cr\"et","username":"admin"})"));
    EXPECT_EQ(R"({"bearer_token":"***"})", MaskSecrets(R"({"bearer_token":"1:abcdef"})"));
    EXPECT_EQ(R"({ "password" : "***", "x": 1, "bearer_token":"***"})",
              MaskSecrets(R"({ "password" : "a", "x": 1, "bearer_token":"b"})"));
    EXPECT_EQ(R"({"password":***,"n":"password"})",
              MaskSecrets(R"({"password":12345,"n":"password"})"));
    EXPECT_EQ(R"({"bearer_token":null})", MaskSecrets(R"({"bearer_token":null})"));
}

TEST(SecretMasking, EverySpellingTheJsonReaderAcceptsIsMasked) {
    EXPECT_EQ(R"({"bearer\u005ftoken":"***"})", MaskSecrets(R"({"bearer\u005ftoken":"1:abc"})"));
    EXPECT_EQ(R"({"\u0070\u0061ssword" : "***"})",
              MaskSecrets(R"({"\u0070\u0061ssword" : "hunter2"})"));
    EXPECT_EQ(R"({"bearer\u005Ftoken":***})", MaskSecrets(R"({"bearer\u005Ftoken":42})"));
    EXPECT_EQ(R"({"pass\/word":"x"})", MaskSecrets(R"({"pass\/word":"x"})"));
}

TEST(SecretMasking, TextWithoutSecretsIsUnchanged) {
    for (const char* text :
         {"", "plain", R"({"description":"bad password"})", R"(["password"])", R"({"password"})"}) {
        EXPECT_EQ(text, MaskSecrets(text));
    }
}

TEST(SecretMasking, CutOffReplyStillHidesTheSecret) {
    EXPECT_EQ(R"({"bearer_token":"***")", MaskSecrets(R"({"bearer_token":"1:abcdef)"));
    EXPECT_EQ(std::string::npos, MaskSecrets(R"({"bearer_token":"1:abcdef)").find("abcdef"));
    EXPECT_EQ(std::string::npos, MaskSecrets(R"({"password":"hunter2\)").find("hunter2"));
}

TEST(SecretMasking, HeaderLinesAndUrls) {
    EXPECT_EQ("Authorization: Bearer ***", MaskHeaderLine("Authorization: Bearer 1:abc"));
    EXPECT_EQ("authorization: Basic ***", MaskHeaderLine("authorization: Basic dXNlcjpw"));
    EXPECT_EQ("Content-Type: application/json", MaskHeaderLine("Content-Type: application/json"));
    EXPECT_EQ("https://***@host:8000/v1", MaskUrl("https://user:pw@host:8000/v1"));
    EXPECT_EQ("https://host:8000/v1?a=b@c", MaskUrl("https://host:8000/v1?a=b@c"));
    EXPECT_EQ("no url", MaskUrl("no url"));
}

TEST(MessageQuotes, ALongTextIsCutAtACharacterWithItsFullSizeNamed) {
    const std::string shortText(Cluster::kQuoteLimit, 'a');
    EXPECT_EQ(shortText, Quote(shortText));
    // A two-byte character straddles the limit: the quote ends before it.
    const std::string longText = std::string(Cluster::kQuoteLimit - 1, 'a') + "\xC3\xA9" + "tail";
    EXPECT_EQ(std::string(Cluster::kQuoteLimit - 1, 'a') + "\xE2\x80\xA6 [" +
                  std::to_string(longText.size()) + " bytes]",
              Quote(longText));
    const std::string secret =
        std::string(Cluster::kQuoteLimit - 20, ' ') + R"({"password":"hunter2 and more")";
    EXPECT_EQ(std::string::npos, Cluster::QuoteMasked(secret).find("hunter2"));
}

}  // namespace
