// TLV packing: the listed records, the capacity rule without overflow, and that a
// refused call writes nothing.
#include <gtest/gtest.h>

#include <kaldro.h>

#include <cstring>
#include <vector>

namespace {

TEST(Tlv, PacksTagLengthValue) {
  const uint8_t value[] = {1, 2, 3};
  uint8_t out[16];
  std::memset(out, 0xCC, sizeof out);
  uint32_t len = 0;
  EXPECT_EQ(kaldro_tlv_pack(0x41, value, 3, out, 8, &len), KALDRO_OK);
  const uint8_t expect[] = {0x41, 0, 0, 0, 3, 1, 2, 3};
  EXPECT_EQ(len, 8u);
  EXPECT_EQ(std::memcmp(out, expect, 8), 0);
  EXPECT_EQ(out[8], 0xCC);
  // Only the low 8 bits of the tag are written.
  EXPECT_EQ(kaldro_tlv_pack(0x1FF, value, 3, out, 8, &len), KALDRO_OK);
  EXPECT_EQ(out[0], 0xFF);
  EXPECT_EQ(kaldro_tlv_pack(-2, nullptr, 0, out, 5, &len), KALDRO_OK);
  const uint8_t empty[] = {0xFE, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(out, empty, 5), 0);
  EXPECT_EQ(len, 5u);
}

TEST(Tlv, LengthIsBigEndian) {
  std::vector<uint8_t> value(0x01020304 & 0xFFFFF, 0x5A);  // 0x20304 bytes
  std::vector<uint8_t> out(value.size() + 5);
  uint32_t len = 0;
  ASSERT_EQ(kaldro_tlv_pack(7, value.data(), uint32_t(value.size()), out.data(),
                            uint32_t(out.size()), &len),
            KALDRO_OK);
  EXPECT_EQ(out[1], 0x00);
  EXPECT_EQ(out[2], 0x02);
  EXPECT_EQ(out[3], 0x03);
  EXPECT_EQ(out[4], 0x04);
  EXPECT_EQ(len, value.size() + 5);
  EXPECT_EQ(std::memcmp(out.data() + 5, value.data(), value.size()), 0);
}

TEST(Tlv, RefusalsWriteNothing) {
  const uint8_t value[] = {1, 2, 3};
  uint8_t out[16];
  std::memset(out, 0xCC, sizeof out);
  uint32_t len = 99;
  EXPECT_EQ(kaldro_tlv_pack(0x41, value, 3, out, 7, &len), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(len, 99u);
  for (uint8_t b : out) EXPECT_EQ(b, 0xCC);
  EXPECT_EQ(kaldro_tlv_pack(0x41, nullptr, 0, out, 4, &len), KALDRO_ERR_CAPACITY);
  // value_len + 5 does not wrap around 32 bits.
  EXPECT_EQ(kaldro_tlv_pack(0x41, value, 0xFFFFFFFFu, out, 4, &len), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_tlv_pack(0x41, value, 0xFFFFFFFCu, out, 0xFFFFFFFFu, &len), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(len, 99u);
  for (uint8_t b : out) EXPECT_EQ(b, 0xCC);
  // Null checks come before the capacity check.
  EXPECT_EQ(kaldro_tlv_pack(0x41, nullptr, 3, out, 0, &len), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_tlv_pack(0x41, value, 3, nullptr, 0, &len), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_tlv_pack(0x41, value, 3, out, 0, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(len, 99u);
}

TEST(Tlv, PacksInPlace) {
  uint8_t buf[10] = {'a', 'b', 'c', 'd'};
  uint32_t len = 0;
  ASSERT_EQ(kaldro_tlv_pack(1, buf, 4, buf, sizeof buf, &len), KALDRO_OK);
  const uint8_t expect[] = {1, 0, 0, 0, 4, 'a', 'b', 'c', 'd'};
  EXPECT_EQ(std::memcmp(buf, expect, 9), 0);
}

}  // namespace
