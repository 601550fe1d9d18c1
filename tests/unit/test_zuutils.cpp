#include <gtest/gtest.h>

#include "platform/ZuUtils.h"

namespace {

CZuError MakeFailure() {
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, 774, "bad %s %d", "thing", 7);
}

CZuError PassUp() {
    CZuError error = MakeFailure();
    return error.Push(FX_CODE_LOCATION);
}

TEST(ErrorObject, SuccessHasNoCodeMessageOrTrail) {
    const CZuError success = CZuError::Success();
    EXPECT_FALSE(success.IsError());
    EXPECT_EQ(0u, success.GetCode());
    EXPECT_EQ("", success.GetMessage());
    EXPECT_TRUE(success.GetLocations().empty());
    EXPECT_EQ("success", success.ToString());
}

TEST(ErrorObject, FailureCarriesFormattedMessageAndTrailInOrder) {
    const CZuError error = PassUp();
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_EQ("bad thing 7", error.GetMessage());
    const auto trail = error.GetLocations();
    ASSERT_EQ(2u, trail.size());
    EXPECT_EQ("test_zuutils", trail[0].file);
    EXPECT_EQ("CZuError {anonymous}::MakeFailure()", trail[0].function);
    EXPECT_EQ("CZuError {anonymous}::PassUp()", trail[1].function);
    EXPECT_LT(trail[0].line, trail[1].line);
    const std::string text = error.ToString();
    EXPECT_NE(std::string::npos, text.find("774"));
    EXPECT_NE(std::string::npos, text.find("bad thing 7"));
    EXPECT_NE(std::string::npos, text.find("PassUp"));
}

TEST(ErrorObject, CopiesShareTheTrail) {
    CZuError original = MakeFailure();
    CZuError copy = original;
    copy.Push(FXCodeLocation{"Elsewhere", "void f()", 3});
    EXPECT_EQ(2u, original.GetLocations().size());
}

TEST(ErrorObject, LocationTextsAreCopiedFromTheCallersStack) {
    CZuError error;
    {
        std::string file = "Transient";
        std::string function = "void g()";
        error = FXErrorUtil::ErrorWin32(FXCodeLocation{file.c_str(), function.c_str(), 9}, 87);
        file.assign(file.size(), 'x');
        function.assign(function.size(), 'x');
    }
    EXPECT_EQ("Transient", error.GetLocations().at(0).file);
    EXPECT_EQ("void g()", error.GetLocations().at(0).function);
    EXPECT_EQ(87u, error.GetCode());
}

TEST(ErrorObject, EventMessageFillsCatalogueTextWithArguments) {
    CZuError event = FXErrorUtil::ErrorEventMessage(FX_CODE_LOCATION, ZU_EVENT_LOGIN_FAILED);
    event << "/v1/session/login" << boost::any(std::string("wrong password"));
    EXPECT_TRUE(event.IsError());
    EXPECT_EQ(0x11000095u, event.GetCode());
    const std::string message = event.GetMessage();
    EXPECT_NE(std::string::npos, message.find("/v1/session/login"));
    EXPECT_NE(std::string::npos, message.find("wrong password"));
    EXPECT_EQ(std::string::npos, message.find("%1"));
}

TEST(ErrorObject, NullTextArgumentIsEmpty) {
    CZuError event = FXErrorUtil::ErrorEventMessage(FX_CODE_LOCATION, ZU_EVENT_LOGIN_FAILED);
    event << static_cast<const char*>(nullptr) << "reason";
    EXPECT_NE(std::string::npos, event.GetMessage().find("request , reason: reason"));
}

TEST(TextFunctions, FormatAndReplaceAll) {
    EXPECT_EQ("/v2/snapshots/18446744073709551615",
              FXString::Format("%s%lu", "/v2/snapshots/", 18446744073709551615ul));
    EXPECT_EQ(std::string(5000, 'a'), FXString::Format("%s", std::string(5000, 'a').c_str()));
    std::string text = "/a/b/";
    EXPECT_EQ(3, FXString::ReplaceAll(text, "/", "%2F", 0));
    EXPECT_EQ("%2Fa%2Fb%2F", text);
    std::string grows = "aa";
    EXPECT_EQ(2, FXString::ReplaceAll(grows, "a", "aa", 0));
    EXPECT_EQ("aaaa", grows);
    std::string none = "abc";
    EXPECT_EQ(0, FXString::ReplaceAll(none, "/", "%2F", 0));
    EXPECT_EQ(0, FXString::ReplaceAll(none, "", "x", 0));
}

class RecordingSender : public ISendEventInterface {
  public:
    void SendEvent(const CZuError& event, int flags) override {
        messages.push_back(event.GetMessage());
        lastFlags = flags;
    }
    std::vector<std::string> messages;
    int lastFlags = -1;
};

TEST(EventSender, HostInstalledSenderReceivesEventsAndNullIsAllowed) {
    const auto previous = ISendEventInterface::GetInstance();
    auto recorder = boost::shared_ptr<RecordingSender>(new RecordingSender);
    ISendEventInterface::SetInstance(recorder);
    ISendEventInterface::GetInstance()->SendEvent(
        FXErrorUtil::ErrorEventMessage(FX_CODE_LOCATION, ZU_EVENT_LOGIN_FAILED), 0);
    EXPECT_EQ(1u, recorder->messages.size());
    EXPECT_EQ(0, recorder->lastFlags);
    ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
    EXPECT_FALSE(ISendEventInterface::GetInstance());
    ISendEventInterface::SetInstance(previous);
}

TEST(LogWriter, DefaultWriterIsAtLevelOne) {
    ASSERT_TRUE(g_ptrLogWriter);
    EXPECT_EQ(1, g_ptrLogWriter->GetLogLevel());
}

}  // namespace
