// The name table: names interned to indexes, in hash buckets as the binary form stores them.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

#include "xml/XmlInternal.h"

namespace xml {

// ---- TXmlNameTable --------------------------------------------------------------------------

namespace {

// Buckets up to this length are scanned; longer ones are looked up in the table's index.
constexpr size_t kScannedBucket = 8;

uint64_t Mix64(uint64_t x) {
    x ^= x >> 32;
    x *= 0xd6e8feb86659fd93ull;
    x ^= x >> 32;
    x *= 0xd6e8feb86659fd93ull;
    x ^= x >> 32;
    return x;
}

// A per-table key: the crafted names of a file cannot be chosen to collide in it.
uint64_t NewIndexSeed(const void* table) {
    static std::atomic<uint64_t> counter{0x9e3779b97f4a7c15ull};
    const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return Mix64(counter.fetch_add(0x9e3779b97f4a7c15ull, std::memory_order_relaxed) ^ now ^
                 reinterpret_cast<uintptr_t>(table));
}

uint64_t KeyedHash(uint64_t seed, std::string_view name) {
    uint64_t h = seed ^ (name.size() * 0x9e3779b97f4a7c15ull);
    const char* p = name.data();
    size_t n = name.size();
    for (; n >= 8; n -= 8, p += 8) {
        uint64_t block;
        std::memcpy(&block, p, 8);
        h = Mix64(h ^ block) + seed;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, p, n);
    return Mix64(h ^ tail ^ (seed << 1));
}

}  // namespace

TXmlNameTable::TXmlNameTable(int32_t bucketCount)
    : buckets_(static_cast<size_t>(std::max(bucketCount, 1))), indexSeed_(NewIndexSeed(this)) {
    for (const char* name : {"#text", "#cdata-section", "#comment", "#document", "xml"}) IdOfName(name);
}

uint32_t TXmlNameTable::HashName(std::string_view name) {
    uint32_t h = 0;
    for (unsigned char b : name) h = h * 33 + b;
    return h;
}

int32_t TXmlNameTable::IdOfName(std::string_view name) {
    if (name.empty()) return -1;
    const uint32_t bucketNo = HashName(name) % static_cast<uint32_t>(buckets_.size());
    std::vector<int32_t>& bucket = buckets_[bucketNo];
    if (bucket.size() <= kScannedBucket) {
        for (int32_t index : bucket)
            if (index >= 0 && index < NameCount() && names_[static_cast<size_t>(index)] == name) return index;
    } else if (const int32_t found = FindIndexed(name); found >= 0) {
        return found;
    }
    const auto index = static_cast<int32_t>(names_.size());
    names_.emplace_back(name);
    bucket.push_back(index);
    if (indexValid_) IndexName(index);
    return index;
}

int32_t TXmlNameTable::FindIndexed(std::string_view name) {
    if (!indexValid_) BuildIndex();
    const size_t mask = index_.size() - 1;
    for (size_t slot = KeyedHash(indexSeed_, name) & mask;; slot = (slot + 1) & mask) {
        const int32_t index = index_[slot];
        if (index < 0) return -1;
        if (names_[static_cast<size_t>(index)] == name) return index;
    }
}

// Enters a name that its bucket's scan finds at this index (no earlier equal entry exists).
void TXmlNameTable::IndexName(int32_t index) {
    if ((indexed_ + 1) * 2 > index_.size()) {
        // Grow to keep the load at most a half; the entries move to their new slots.
        std::vector<int32_t> old(std::max<size_t>(index_.size() * 2, 64), -1);
        old.swap(index_);
        const size_t mask = index_.size() - 1;
        for (int32_t moved : old) {
            if (moved < 0) continue;
            size_t slot = KeyedHash(indexSeed_, names_[static_cast<size_t>(moved)]) & mask;
            while (index_[slot] >= 0) slot = (slot + 1) & mask;
            index_[slot] = moved;
        }
    }
    const std::string& name = names_[static_cast<size_t>(index)];
    const size_t mask = index_.size() - 1;
    size_t slot = KeyedHash(indexSeed_, name) & mask;
    while (index_[slot] >= 0) {
        if (names_[static_cast<size_t>(index_[slot])] == name) return;  // the earlier entry wins
        slot = (slot + 1) & mask;
    }
    index_[slot] = index;
    ++indexed_;
}

// The index answers as the scan of the name's own bucket would: for each name, the first valid
// entry of that bucket that holds it. Entries of a stored table that sit in another bucket than
// their name's can never be found by a scan, so they are left out.
void TXmlNameTable::BuildIndex() {
    index_.clear();
    indexed_ = 0;
    const auto bucketCount = static_cast<uint32_t>(buckets_.size());
    for (uint32_t b = 0; b < bucketCount; ++b) {
        for (int32_t index : buckets_[b]) {
            if (index < 0 || index >= NameCount()) continue;
            if (HashName(names_[static_cast<size_t>(index)]) % bucketCount != b) continue;
            IndexName(index);
        }
    }
    if (index_.empty()) index_.assign(64, -1);
    indexValid_ = true;
}

const std::string& TXmlNameTable::NameRefSlow(int32_t index) const {
    static const std::string empty;
    if (index >= 0) NameIndexError();
    return empty;
}

std::string TXmlNameTable::NameOfId(int32_t index) { return NameRef(index); }

const std::vector<int32_t>& TXmlNameTable::Bucket(int32_t bucket) const {
    if (bucket < 0 || bucket >= BucketCount()) NameIndexError();
    return buckets_[static_cast<size_t>(bucket)];
}

void TXmlNameTable::ResetContent(std::vector<std::string> names, int32_t bucketCount) {
    names_ = std::move(names);
    buckets_.assign(static_cast<size_t>(std::max(bucketCount, 1)), {});
    indexValid_ = false;
}

void TXmlNameTable::SetBucket(int32_t bucket, std::vector<int32_t> indexes) {
    if (bucket < 0 || bucket >= BucketCount()) NameIndexError();
    buckets_[static_cast<size_t>(bucket)] = std::move(indexes);
    indexValid_ = false;
}

XmlRef<IXmlNameDictionary> DefaultNameTable() {
    static const XmlRef<TXmlNameTable> table = MakeXml<TXmlNameTable>(4096);
    return table;
}

XmlRef<IXmlNameDictionary> NewXmlNameTable(int32_t bucketCount) { return MakeXml<TXmlNameTable>(bucketCount); }

}  // namespace xml
