// Name tables whose buckets were filled with colliding names: interning stays cheap and gives
// the same ids as a scan of the bucket would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xml/XmlChars.h"
#include "xml/XmlInternal.h"

using namespace xml;

namespace {

// "Bz" and "CY" hash alike under h * 33 + byte, so every string of n such pairs has one hash:
// name k spells the bits of k with them.
std::string CollidingName(int k, int pairs) {
    std::string name;
    for (int bit = pairs - 1; bit >= 0; --bit) name += (k >> bit) & 1 ? "CY" : "Bz";
    return name;
}

}  // namespace

TEST(NameIndex, FiftyThousandNamesInOneBucket) {
    constexpr int kNames = 50000;
    TXmlNameTable table(4096);
    const uint32_t hash = TXmlNameTable::HashName(CollidingName(0, 16));
    // Each pass would be more than a billion string comparisons with a scan of the bucket.
    for (int k = 0; k < kNames; ++k) {
        const std::string name = CollidingName(k, 16);
        ASSERT_EQ(TXmlNameTable::HashName(name), hash);
        ASSERT_EQ(table.IdOfName(name), 5 + k);
    }
    for (int k = 0; k < kNames; ++k) ASSERT_EQ(table.IdOfName(CollidingName(k, 16)), 5 + k);
    EXPECT_EQ(table.IdOfName("Bz"), 5 + kNames);  // another bucket still takes new names
    const std::vector<int32_t>& bucket = table.Bucket(static_cast<int32_t>(hash % 4096));
    ASSERT_EQ(bucket.size(), static_cast<size_t>(kNames));
    for (int k = 0; k < kNames; ++k) ASSERT_EQ(bucket[static_cast<size_t>(k)], 5 + k);
    EXPECT_EQ(table.NameRef(5 + 49999), CollidingName(49999, 16));
}

// A stored table may list a name twice, list entries in a bucket the name does not hash to, or
// hold indexes beyond its names: a lookup answers as the scan of the name's own bucket does.
TEST(NameIndex, StoredBucketsAnswerAsTheirScan) {
    std::vector<std::string> names{"#text", "#cdata-section", "#comment", "#document", "xml"};
    for (int k = 0; k < 12; ++k) names.push_back(CollidingName(k, 4));
    names.push_back(CollidingName(7, 4));  // 17: a second copy of the name at 12
    names.push_back("misplaced");          // 18
    constexpr int32_t kBuckets = 16;
    TXmlNameTable table(kBuckets);
    table.ResetContent(names, kBuckets);
    std::vector<std::vector<int32_t>> buckets(kBuckets);
    for (int32_t i = 0; i < 5; ++i)
        buckets[TXmlNameTable::HashName(names[static_cast<size_t>(i)]) % kBuckets].push_back(i);
    const uint32_t crowded = TXmlNameTable::HashName(CollidingName(0, 4)) % kBuckets;
    // The copy comes first, an invalid index and the misplaced name sit among the rest.
    buckets[crowded] = {17, 99, 18, -3};
    for (int32_t i = 5; i < 17; ++i) buckets[crowded].push_back(i);
    for (int32_t b = 0; b < kBuckets; ++b) table.SetBucket(b, buckets[static_cast<size_t>(b)]);

    for (int k = 0; k < 12; ++k) EXPECT_EQ(table.IdOfName(CollidingName(k, 4)), k == 7 ? 17 : 5 + k) << k;
    for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(table.IdOfName(names[static_cast<size_t>(i)]), i);
    // Listed only in a bucket of other names: never found there, so interned anew.
    ASSERT_NE(TXmlNameTable::HashName("misplaced") % kBuckets, crowded);
    EXPECT_EQ(table.IdOfName("misplaced"), 19);
    const int32_t next = table.NameCount();  // a new colliding name joins the index
    EXPECT_EQ(table.IdOfName(CollidingName(12, 4)), next);
    EXPECT_EQ(table.IdOfName(CollidingName(12, 4)), next);
}

// The in-line compare the parser uses for names and end tags: every length up to past its word
// loads, equal and with one byte changed at each place.
TEST(NameBytes, SameBytesFindsEveryDifference) {
    const std::string a = "abcdefghijklmnopqrstuvwxyz";
    for (size_t n = 0; n <= 20; ++n) {
        std::string b = a;
        EXPECT_TRUE(xml::SameBytes(a.data(), b.data(), n)) << n;
        for (size_t i = 0; i < n; ++i) {
            b = a;
            b[i] = '#';
            EXPECT_FALSE(xml::SameBytes(a.data(), b.data(), n)) << n << " at " << i;
        }
    }
}
