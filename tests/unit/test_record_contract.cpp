// What every record parser must do, checked for each record the parser reads (described in
// record_descriptions.h). What only one record does is tested next to it, in
// test_snapshot_parsing.cpp, test_share_parsing.cpp and test_directory_parsing.cpp.
#include <gtest/gtest.h>

#include <list>
#include <string>
#include <type_traits>
#include <vector>

#include "tests/unit/json_text.h"
#include "tests/unit/parser_expectations.h"
#include "tests/unit/record_descriptions.h"

namespace parser_test {
namespace {

template <class D>
class RecordContract : public ::testing::Test {
  protected:
    using Record = typename D::Record;
    static constexpr bool kHasParse = !std::is_same_v<decltype(D::kParse), const std::nullptr_t>;

    // The trail of a bad element: made where the element is read, then the listing.
    static std::vector<std::string> ElementTrail(std::vector<std::string> first = {}) {
        if (D::kListCallsParse) first.push_back(D::kParseFunction);
        first.push_back(D::kParseListFunction);
        return first;
    }

    // The single-record parser on `text` fails with `message` and this trail, having assigned
    // the fields read before `failedKey` and no other.
    static void ExpectRecordFailure(const std::string& text, const std::string& message,
                                    std::vector<std::string> trail, const std::string& failedKey) {
        if constexpr (kHasParse) {
            Record record = D::Old();
            trail.push_back(D::kParseFunction);
            EXPECT_TRUE(IsFailure(Parse<D>(text, record), 774, message, trail)) << text;
            ExpectAssignedUpTo(D::Fields(), record, failedKey);
        }
    }

    // A listing with two good elements, `bad` and a good one fails with `message` and this
    // trail, keeping the list's record and the two good elements; a paged listing keeps the
    // caller's link.
    static void ExpectListFailure(const std::string& bad, const std::string& message,
                                  const std::vector<std::string>& trail) {
        std::list<Record> records = HoldingOne<D>();
        std::string nextLink = "old link";
        const std::string text =
            ListText<D>({LabelledText<D>("/1"), LabelledText<D>("/2"), bad, LabelledText<D>("/4")});
        CZuError error;
        ASSERT_NO_THROW(error = ParseList<D>(text, records, nextLink)) << bad;
        EXPECT_TRUE(IsFailure(error, 774, message, trail)) << bad;
        EXPECT_EQ(std::vector<std::string>({"earlier", "/1", "/2"}), Labels<D>(records)) << bad;
        EXPECT_EQ("old link", nextLink);
    }

    // A reply the listing cannot use at all changes neither the list nor the link.
    static void ExpectListUntouched(const std::string& text, const std::string& message) {
        std::list<Record> records = HoldingOne<D>();
        std::string nextLink = "old link";
        EXPECT_TRUE(
            IsFailure(ParseList<D>(text, records, nextLink), 774, message, {D::kParseListFunction}))
            << text;
        EXPECT_EQ(std::vector<std::string>({"earlier"}), Labels<D>(records)) << text;
        EXPECT_EQ("old link", nextLink);
    }
};

using Records = ::testing::Types<SnapshotRecord, SnapshotDiffRecord, SmbShareRecord,
                                 NfsExportRecord, DirectoryEntryRecord>;
TYPED_TEST_SUITE(RecordContract, Records);

// The records read alone too (a snapshot difference is only ever listed).
template <class D>
class SingleRecordContract : public RecordContract<D> {};
using SingleRecords =
    ::testing::Types<SnapshotRecord, SmbShareRecord, NfsExportRecord, DirectoryEntryRecord>;
TYPED_TEST_SUITE(SingleRecordContract, SingleRecords);

// The listings whose array stands under a key of the reply.
template <class D>
class ListKeyContract : public RecordContract<D> {};
using ListKeyRecords = ::testing::Types<SnapshotRecord, SnapshotDiffRecord, DirectoryEntryRecord>;
TYPED_TEST_SUITE(ListKeyContract, ListKeyRecords);

template <class D>
class PagedRecordContract : public RecordContract<D> {};
using PagedRecords = ::testing::Types<SnapshotDiffRecord, DirectoryEntryRecord>;
TYPED_TEST_SUITE(PagedRecordContract, PagedRecords);

// The records holding time fields.
template <class D>
class TimedRecordContract : public RecordContract<D> {};
using TimedRecords = ::testing::Types<SnapshotRecord, DirectoryEntryRecord>;
TYPED_TEST_SUITE(TimedRecordContract, TimedRecords);

// Keys that only start like the record's come first: they must not be taken for them.
template <class D>
std::string FullObjectText() {
    Members members;
    for (const auto& field : D::Fields()) {
        members.emplace_back(field.key + std::string("_number"), "null");
    }
    for (const auto& member : SampleMembers<D>()) members.push_back(member);
    return ElementOf(With(members, "comment", "null")).written;
}

TYPED_TEST(RecordContract, ListedFullObjectFillsEveryFieldAndOtherKeysAreIgnored) {
    using D = TypeParam;
    auto records = HoldingOne<D>();
    std::string nextLink;
    const CZuError error = ParseList<D>(ListText<D>({FullObjectText<D>()}), records, nextLink);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    ASSERT_EQ(2u, records.size());
    for (const auto& field : D::Fields()) EXPECT_TRUE(field.assigned(records.back())) << field.key;
}

TYPED_TEST(SingleRecordContract, FullObjectFillsEveryFieldAndOtherKeysAreIgnored) {
    using D = TypeParam;
    typename D::Record record = D::Old();
    const CZuError error = Parse<D>(FullObjectText<D>(), record);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    for (const auto& field : D::Fields()) EXPECT_TRUE(field.assigned(record)) << field.key;
}

TYPED_TEST(RecordContract, ListingAppendsAfterExistingRecordsInArrayOrder) {
    using D = TypeParam;
    auto records = HoldingOne<D>();
    std::string nextLink = "old link";
    const std::string text =
        ListText<D>({LabelledText<D>("/b"), LabelledText<D>("/a"), LabelledText<D>("/c")},
                    R"({"next": "/v1/x/%2Fdata/?after=a%2Fb", "x": 1})");
    const CZuError error = ParseList<D>(text, records, nextLink);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    EXPECT_EQ(std::vector<std::string>({"earlier", "/b", "/a", "/c"}), Labels<D>(records));
    EXPECT_EQ(D::kPaged ? "/v1/x/%2Fdata/?after=a%2Fb" : "old link", nextLink);
}

TYPED_TEST(RecordContract, EmptyListAppendsNothing) {
    using D = TypeParam;
    std::vector<std::string> texts;
    if constexpr (D::kListKey == nullptr) {
        texts = {"[]", " [ ] "};
    } else if constexpr (D::kPaged) {
        texts = {
            ObjectText({{"paging", R"({"next": "", "previous": "/p0"})"}, {D::kListKey, "[]"}})};
    } else {
        texts = {ObjectText({{D::kListKey, "[]"}})};
    }
    for (const std::string& text : texts) {
        auto records = HoldingOne<D>();
        std::string nextLink = "old link";
        const CZuError error = ParseList<D>(text, records, nextLink);
        ASSERT_FALSE(error.IsError()) << error.ToString();
        EXPECT_EQ(std::vector<std::string>({"earlier"}), Labels<D>(records)) << text;
        EXPECT_EQ(D::kPaged ? "" : "old link", nextLink) << text;
    }
}

TYPED_TEST(PagedRecordContract, PagesAccumulate) {
    using D = TypeParam;
    std::list<typename D::Record> records;
    std::string nextLink;
    ASSERT_FALSE(ParseList<D>(ListText<D>({LabelledText<D>("/1"), LabelledText<D>("/2/")},
                                          R"({"next": "/page2"})"),
                              records, nextLink)
                     .IsError());
    EXPECT_EQ("/page2", nextLink);
    ASSERT_FALSE(
        ParseList<D>(ListText<D>({LabelledText<D>("/3")}, R"({"next": ""})"), records, nextLink)
            .IsError());
    EXPECT_EQ("", nextLink);
    EXPECT_EQ(std::vector<std::string>({"/1", "/2/", "/3"}), Labels<D>(records));
}

TYPED_TEST(RecordContract, MissingKeyFailsWhereItIsRead) {
    using D = TypeParam;
    for (const auto& field : D::Fields()) {
        const Element element = ElementOf(Without(SampleMembers<D>(), field.key));
        const std::string reason = std::string("key '") + field.key + "' not found";
        this->ExpectRecordFailure(
            element.written, Format(D::kBadRecord ? D::kBadRecord : "", {element.written, reason}),
            {}, field.key);
        this->ExpectListFailure(element.written, Format(D::kBadEntry, {element.compact, reason}),
                                this->ElementTrail());
    }
}

// Every JSON kind but the one the key must hold, as compact text and as json_spirit names it.
struct WrongValue {
    const char* text;
    const char* kind;
};

std::vector<WrongValue> WrongValues(JsonKind expected) {
    std::vector<WrongValue> values = {
        {"null", "null"},   {"-1", "an integer"},        {"1.5", "a real number"},
        {"[]", "an array"}, {R"({"a":1})", "an object"},
    };
    if (expected != JsonKind::Flag) values.push_back({"true", "a boolean"});
    if (expected != JsonKind::Text) values.push_back({R"("42")", "a string"});
    if (expected != JsonKind::Unsigned) values.push_back({"7", "an integer"});
    return values;
}

const char* KindName(JsonKind kind) {
    switch (kind) {
        case JsonKind::Flag:
            return "a boolean";
        case JsonKind::Text:
            return "a string";
        case JsonKind::Unsigned:
            return "an unsigned integer";
    }
    return "";
}

TYPED_TEST(RecordContract, ValueOfAnotherKindFailsWhereItIsRead) {
    using D = TypeParam;
    for (const auto& field : D::Fields()) {
        for (const WrongValue& value : WrongValues(field.kind)) {
            const Element element = ElementOf(With(SampleMembers<D>(), field.key, value.text));
            const std::string reason = std::string("key '") + field.key + "' is not " +
                                       KindName(field.kind) + " (it is " + value.kind + ")";
            this->ExpectRecordFailure(
                element.written,
                Format(D::kBadRecord ? D::kBadRecord : "", {element.written, reason}), {},
                field.key);
            this->ExpectListFailure(element.written,
                                    Format(D::kBadEntry, {element.compact, reason}),
                                    this->ElementTrail());
        }
    }
}

// Later time keys are of the wrong kind: reading on past the failure would change the error.
TYPED_TEST(TimedRecordContract, BadTimeFailsWhereItIsRead) {
    using D = TypeParam;
    for (const auto& field : D::Fields()) {
        if (!field.time) continue;
        for (const char* time : {"2021-03-04", "", "2021-03-04 05:06:07"}) {
            Members members = With(SampleMembers<D>(), field.key, Quoted(time));
            bool later = false;
            for (const auto& other : D::Fields()) {
                if (later && other.time) members = With(members, other.key, "0");
                if (other.key == field.key) later = true;
            }
            const std::string text = ElementOf(members).written;
            const std::string message =
                std::string("Cannot retrieve time from the string : ") + time;
            this->ExpectRecordFailure(text, message, {signatures::kConvertStringToTimeStamp},
                                      field.key);
            this->ExpectListFailure(text, message,
                                    this->ElementTrail({signatures::kConvertStringToTimeStamp}));
        }
    }
}

TYPED_TEST(RecordContract, ElementThatIsNoObjectIsReportedNotThrown) {
    using D = TypeParam;
    const struct {
        const char* element;
        const char* compact;
        const char* reason;
    } rows[] = {
        {R"("x")", R"("x")", "value is a string, not an object"},
        {"7", "7", "value is an integer, not an object"},
        {"-2.5", "-2.5", "value is a real number, not an object"},
        {"null", "null", "value is null, not an object"},
        {"true", "true", "value is a boolean, not an object"},
        {"false", "false", "value is a boolean, not an object"},
        {R"([ 1, "a", {"b": 2, "a": 1} ])", R"([1,"a",{"a":1,"b":2}])",
         "value is an array, not an object"},
    };
    for (const auto& row : rows) {
        this->ExpectListFailure(row.element, Format(D::kBadEntry, {row.compact, row.reason}),
                                {D::kParseListFunction});
    }
}

TYPED_TEST(SingleRecordContract, TextThatIsNoObjectLeavesTheRecordAlone) {
    using D = TypeParam;
    const std::string object = ElementOf(SampleMembers<D>()).written;
    for (const std::string& text :
         {"[" + object + "]", std::string("[]"), std::string(""), std::string("nonsense"),
          std::string("null"), std::string("\"text\""), object + " {}",
          std::string("{\"id\": \"1\"")}) {
        typename D::Record record = D::Old();
        EXPECT_TRUE(IsFailure(Parse<D>(text, record), 774, "Cannot get JSON object from " + text,
                              {D::kParseFunction}))
            << text;
        ExpectAssignedUpTo(D::Fields(), record, D::Fields().front().key);
    }
}

TYPED_TEST(RecordContract, ReplyThatIsNoObjectLeavesTheListAlone) {
    using D = TypeParam;
    const std::string element = LabelledText<D>("/a");
    std::vector<std::string> texts = {
        "",
        "nonsense",
        "[",
        "[" + element,
        ListText<D>({element}) + " {}",
        ListText<D>({element}).substr(0, ListText<D>({element}).size() - 1)};
    if constexpr (D::kListKey == nullptr) {
        texts.push_back(ElementOf(SampleMembers<D>()).written);
        texts.push_back(R"({"entries": []})");
    } else {
        texts.push_back("[" + ListText<D>({element}) + "]");
        texts.push_back(ObjectText({{D::kListKey, "[}"}}));
    }
    for (const std::string& text : texts) {
        this->ExpectListUntouched(text, "Cannot get JSON object from " + text);
    }
}

TYPED_TEST(ListKeyContract, ReplyWithoutTheListFails) {
    using D = TypeParam;
    const std::string key = Quoted(D::kListKey);
    const std::string other = std::string(D::kListKey) == "files" ? "entries" : "files";
    // The reply around `member`, with the paging object a page carries.
    const auto reply = [](const std::string& member) {
        const char* paging = D::kPaged ? R"("paging": {"next": "/p"})" : "";
        return "{" + member + (member.empty() || !D::kPaged ? "" : ", ") + paging + "}";
    };
    for (const std::string& member :
         {std::string(), key + ": {}", key + ": \"[]\"", key + ": null", Quoted(other) + ": []",
          std::string(R"("Entries": [], "Files": [])")}) {
        const std::string text = reply(member);
        this->ExpectListUntouched(text, Format(D::kNoList, {text}));
    }
}

// The elements are appended before the paging object is read.
TYPED_TEST(PagedRecordContract, BadPagingFailsAfterEveryElementIsAppended) {
    using D = TypeParam;
    const std::string elements = ArrayText({LabelledText<D>("/1"), LabelledText<D>("/2")});
    std::vector<std::string> texts;
    std::vector<std::string> messages;
    for (const char* paging : {"", R"("/page2")", "[]", "null"}) {
        Members members = {{D::kListKey, elements}};
        if (*paging) members.emplace_back("paging", paging);
        texts.push_back(ObjectText(members));
        messages.push_back("No paging section present in the JSON " + texts.back());
    }
    const struct {
        const char* paging;
        const char* reason;
    } nextRows[] = {
        {"{}", "key 'next' not found"},
        {R"({"Next": "/page2"})", "key 'next' not found"},
        {R"({"next": null})", "key 'next' is not a string (it is null)"},
        {R"({"next": 5})", "key 'next' is not a string (it is an integer)"},
        {R"({"next": ["/p2"]})", "key 'next' is not a string (it is an array)"},
        {R"({"next": {"href": "/page2"}})", "key 'next' is not a string (it is an object)"},
    };
    for (const auto& row : nextRows) {
        texts.push_back(ObjectText({{D::kListKey, elements}, {"paging", row.paging}}));
        messages.push_back("Cannot retrieve paging:next from the JSON " + texts.back() +
                           " due to " + row.reason);
    }
    for (size_t i = 0; i < texts.size(); ++i) {
        auto records = HoldingOne<D>();
        std::string nextLink = "old link";
        EXPECT_TRUE(IsFailure(ParseList<D>(texts[i], records, nextLink), 774, messages[i],
                              {D::kParseListFunction}))
            << texts[i];
        EXPECT_EQ(std::vector<std::string>({"earlier", "/1", "/2"}), Labels<D>(records));
        EXPECT_EQ("old link", nextLink);
    }
}

}  // namespace
}  // namespace parser_test
