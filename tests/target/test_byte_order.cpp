// The backup host is 64-bit big-endian PowerPC; the cross build must produce exactly that,
// or the tests run beside it would prove nothing about the host.
#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(TargetByteOrder, CompilerTargetsBigEndian) {
    constexpr bool bigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
    EXPECT_TRUE(bigEndian);
}

TEST(TargetByteOrder, MostSignificantByteComesFirstInMemory) {
    // Volatile, so the bytes are read from memory at run time, not folded by the compiler.
    const volatile uint32_t word = 0x01020304u;
    const volatile unsigned char* bytes = reinterpret_cast<const volatile unsigned char*>(&word);
    EXPECT_EQ(0x01, bytes[0]);
    EXPECT_EQ(0x02, bytes[1]);
    EXPECT_EQ(0x03, bytes[2]);
    EXPECT_EQ(0x04, bytes[3]);
}

TEST(TargetByteOrder, PointersAndLongsAre64Bits) {
    EXPECT_EQ(8u, sizeof(void*));
    EXPECT_EQ(8u, sizeof(long));
}

}  // namespace
