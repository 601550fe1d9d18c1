#include <gtest/gtest.h>

#include "Cluster/ClusterSecrets.h"

namespace {

using Cluster::MaskHeaderLine;
using Cluster::MaskSecrets;
using Cluster::MaskUrl;

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

}  // namespace
