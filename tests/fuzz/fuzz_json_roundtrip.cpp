// json_spirit's reader and writer: whatever text reads as a value, the compact text written from
// it reads back as an equal value and is written again letter for letter the same.
#include <string>

#include "platform/json_spirit/json_spirit.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void RoundTrip(const std::string& text) {
    json_spirit::mValue value;
    if (!json_spirit::read_string(text, value)) return;
    const std::string written = json_spirit::write_string(value, 0);
    json_spirit::mValue again;
    FUZZ_CHECK(json_spirit::read_string(written, again));
    FUZZ_CHECK(again == value);
    FUZZ_CHECK(json_spirit::write_string(again, 0) == written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FUZZ_NO_EXCEPTION(RoundTrip(fuzz::Text(data, size)));
    return 0;
}
