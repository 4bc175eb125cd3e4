// The concrete classes behind the XmlLib interfaces, for the library's own sources (the
// parser, the binary form, the document). Callers use XmlLib.h only.
#pragma once
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "xml/XmlLib.h"

namespace xml {

class TXmlNode;
class TXmlElement;
class TXmlDocument;
class TXmlNodeList;
class TXmlNameTable;
class TBinXmlReader;  // XmlBinary
class TBinXmlWriter;  // XmlBinary
class TXmlSource;     // XmlParser
class TXmlValue;
class TReleaseTally;

// Makes a counted object; the first XmlRef takes the first reference.
template <class T, class... Args>
XmlRef<T> MakeXml(Args&&... args) {
    return XmlRef<T>(std::make_unique<T>(std::forward<Args>(args)...).release());
}

// Throws the library's error.
[[noreturn]] void RaiseXmlError(const std::string& message);
[[noreturn]] void NameIndexError();  // a name index out of range
// The pattern with its one "%s" replaced by a (the messages that name a name).
std::string Format1(const char* pattern, const std::string& a);

// Library-wide default of a document's PreserveWhiteSpace flag (also used by nodes outside
// any document).
inline constexpr bool DefaultPreserveWhiteSpace = false;
inline constexpr std::string_view DefaultEncoding = "windows-1251";

// The message of every out-of-range position in a node list.
inline constexpr const char* ListIndexMessage = "Ошибка получения элемента списка: индекс выходит за пределы";
inline constexpr const char* NotSupportedMessage = "Данная возможность не поддерживается библиотекой XML";

// ---------------------------------------------------------------------------------------------
// Value kinds and their XML text.

constexpr bool IsIntegerKind(uint16_t k) {
    switch (k) {
    case TaggedValue::vkInt16: case TaggedValue::vkInt32: case TaggedValue::vkInt8: case TaggedValue::vkUInt8:
    case TaggedValue::vkUInt16: case TaggedValue::vkUInt32: case TaggedValue::vkInt64:
        return true;
    default:
        return false;
    }
}
constexpr bool IsFloatKind(uint16_t k) { return k == TaggedValue::vkFloat32 || k == TaggedValue::vkFloat64; }
// Kinds that convert to a number as they stand (text has to be parsed first).
constexpr bool IsNumericKind(uint16_t k) {
    return IsIntegerKind(k) || IsFloatKind(k) || k == TaggedValue::vkCurrency || k == TaggedValue::vkBoolean;
}

// ValueToXmlText for the kinds ValueXmlText does not write itself.
std::string OtherValueXmlText(const TaggedValue& value);

struct TValueTextRoom {
    char digits[24];
    std::string text;
};
// The XML text of a value (ValueToXmlText) without a copy where none is needed: a text payload
// as it stands, an integer or a boolean in room.digits, any other kind converted into room.text.
// The view lives as long as the value and the room.
inline std::string_view ValueXmlText(const TaggedValue& value, TValueTextRoom& room) {
    const TaggedValue::Payload& payload = value.RawPayload();
    const uint16_t kind = value.KindCode();
    if (kind == TaggedValue::vkText) return *std::get_if<std::string>(&payload);
    if (kind == TaggedValue::vkEmpty) return {};
    if (kind == TaggedValue::vkBoolean) return *std::get_if<bool>(&payload) ? "1" : "0";
    if (IsIntegerKind(kind)) {
        const auto end = std::to_chars(room.digits, room.digits + sizeof room.digits,
                                       *std::get_if<int64_t>(&payload)).ptr;
        return {room.digits, static_cast<size_t>(end - room.digits)};
    }
    room.text = OtherValueXmlText(value);
    return room.text;
}
// The same for a kept value.
std::string_view ValueXmlText(const TXmlValue& value, TValueTextRoom& room);

// ---------------------------------------------------------------------------------------------

// ---------------------------------------------------------------------------------------------
// Block memory for the trees that loads build. A document's loads (text and binary) and a deep
// copy take their nodes, child lists and item and attribute arrays from pages of a TXmlArena:
// no allocator call per object, and a tree's memory goes back a page at a time. Every object
// still has its own count and destructor; a page counts the objects in it that still live and
// goes when the last of them does, so a node that outlives its document keeps only its pages.

// The head of a page; the objects follow it.
struct alignas(16) TXmlPage {
    // kBias plus the objects handed out and not yet released, minus the objects handed out so
    // far while the page is still the arena's current one (so the count cannot reach zero then).
    std::atomic<int64_t> live;
    static constexpr int64_t kBias = int64_t{1} << 40;
    // One object of the page went; the last one frees the page. Any thread may call it.
    static void Release(TXmlPage* page) noexcept;
};

class TXmlArena {
public:
    TXmlArena() = default;
    ~TXmlArena() { Retire(); }
    TXmlArena(const TXmlArena&) = delete;
    TXmlArena& operator=(const TXmlArena&) = delete;

    // Room for one object of the page, 8-aligned; throws std::bad_alloc. The byte offset from
    // the page's start is stored in *offset. Release it with TXmlPage::Release(PageAt(...)).
    void* Allocate(size_t bytes, uint32_t& offset);
    // Gives up the current page: from now on only its objects keep it.
    void Retire() noexcept;

    static TXmlPage* PageAt(const void* object, uint32_t offset) noexcept {
        return reinterpret_cast<TXmlPage*>(const_cast<char*>(static_cast<const char*>(object)) - offset);
    }

private:
    void* AllocateSlow(size_t bytes, uint32_t& offset);
    TXmlPage* page_ = nullptr;
    char* next_ = nullptr;
    char* end_ = nullptr;
    int64_t handedOut_ = 0;  // objects of the current page
    size_t nextPageSize_ = 0;
};

// An array block: from the arena when one is given (a hidden head holds its page offset), from
// the heap otherwise. FreeBlock takes the same paged flag.
void* AllocateBlock(size_t bytes, TXmlArena* arena);
void FreeBlock(void* block, bool paged) noexcept;
// The page of an array block from the arena.
TXmlPage* PageOfBlock(void* block) noexcept;

// The shares of pages and of a name table that a release walk gives back, in batches: a tree's
// objects lie page after page and share one table, so most releases only add to a local count
// instead of each being an atomic operation on shared memory. Flushed at the end of the walk.
class TReleaseTally {
public:
    TReleaseTally() = default;
    ~TReleaseTally() { Flush(); }
    TReleaseTally(const TReleaseTally&) = delete;
    TReleaseTally& operator=(const TReleaseTally&) = delete;

    void Page(TXmlPage* page) noexcept {
        if (page != page_) {
            FlushPage();
            page_ = page;
        }
        ++pageShares_;
    }
    // One reference, owned by the caller until now.
    void Table(TXmlNameTable* table) noexcept {
        if (table == table_) ++tableShares_;
        else OtherTable(table);
    }
    void Flush() noexcept;

private:
    void FlushPage() noexcept;
    void OtherTable(TXmlNameTable* table) noexcept;
    TXmlPage* page_ = nullptr;
    int64_t pageShares_ = 0;
    TXmlNameTable* table_ = nullptr;
    int32_t tableShares_ = 0;
};

// A value as the tree keeps it (attribute values, text nodes, character data): 16 bytes, where a
// TaggedValue takes 40 and its text another heap block. Text, the common kind, lies in the value
// itself up to 8 bytes, else in a block of its own, from the document's pages when a load builds
// it (the heap otherwise); numbers and booleans lie in place; the rare kinds (wide text, byte
// arrays) in a TaggedValue on the heap. Readers take a view of the text or a TaggedValue copy.
class TXmlValue {
public:
    TXmlValue() noexcept { u_.i = 0; }  // empty (kind 0)
    ~TXmlValue() { Free(); }
    TXmlValue(TXmlValue&& other) noexcept : u_(other.u_), size_(other.size_), kind_(other.kind_), store_(other.store_) {
        other.Forget();
    }
    TXmlValue& operator=(TXmlValue&& other) noexcept {
        if (this != &other) {
            Free();
            u_ = other.u_;
            size_ = other.size_;
            kind_ = other.kind_;
            store_ = other.store_;
            other.Forget();
        }
        return *this;
    }
    TXmlValue(const TXmlValue&) = delete;
    TXmlValue& operator=(const TXmlValue&) = delete;

    // Each may throw std::bad_alloc; the arena is the document's when a load builds the value.
    static TXmlValue Text(std::string_view text, TXmlArena* arena = nullptr) {
        if (text.size() > sizeof u_.chars) return TextHeld(text, arena);
        TXmlValue value;  // short: in the value itself
        value.kind_ = TaggedValue::vkText;
        if (!text.empty()) std::memcpy(value.u_.chars, text.data(), text.size());
        value.size_ = static_cast<uint32_t>(text.size());
        value.store_ = kInline;
        return value;
    }
    // A text whose bytes lie in the slot of the node that keeps the value (made with the node by
    // MakeXmlWithText): they last as long as the node, and the value never leaves it.
    static TXmlValue Borrowed(const char* bytes, uint32_t size) noexcept {
        TXmlValue value;
        value.u_.text = const_cast<char*>(bytes);
        value.size_ = size;
        value.kind_ = TaggedValue::vkText;
        value.store_ = kBorrowedText;
        return value;
    }
    static TXmlValue Of(const TaggedValue& value, TXmlArena* arena = nullptr);
    static TXmlValue Of(TaggedValue&& value, TXmlArena* arena = nullptr);
    TXmlValue Copy(TXmlArena* arena = nullptr) const;

    uint16_t KindCode() const noexcept { return kind_; }
    bool IsText() const noexcept { return store_ >= kInline && store_ <= kBorrowedText; }
    // The text of a text value ("" for the other kinds); lives as long as the value.
    std::string_view TextView() const noexcept {
        if (store_ == kInline) return {u_.chars, size_};
        if (store_ >= kHeapText && store_ <= kBorrowedText) return {u_.text, size_};
        return {};
    }
    // The payload of the kinds kept in place (integers and currency, floats and dates, booleans).
    int64_t IntPayload() const noexcept { return u_.i; }
    bool BoolPayload() const noexcept { return u_.b; }
    TaggedValue ToTagged() const;
    // Empties the value, its page's share counted into the tally instead of given back at once.
    void ReleaseInto(TReleaseTally& tally) noexcept {
        if (store_ == kHeapText || store_ == kPagedText || store_ == kOther) ReleaseHeldInto(tally);
        else Forget();
    }

private:
    enum : uint8_t { kNone, kInt, kFloat, kBool, kInline, kHeapText, kPagedText, kBorrowedText, kOther };
    void Free() noexcept {
        if (store_ == kHeapText || store_ == kPagedText || store_ == kOther) FreeHeld();
    }
    void FreeHeld() noexcept;
    void ReleaseHeldInto(TReleaseTally& tally) noexcept;
    static TXmlValue TextHeld(std::string_view text, TXmlArena* arena);
    void Forget() noexcept {
        store_ = kNone;
        kind_ = TaggedValue::vkEmpty;
        size_ = 0;
    }
    union {
        int64_t i;
        double d;
        bool b;
        char chars[8];
        char* text;
        TaggedValue* other;
    } u_;
    uint32_t size_ = 0;
    uint16_t kind_ = TaggedValue::vkEmpty;
    uint8_t store_ = kNone;
};

// The forms of a kept value that the library's readers use (see the TaggedValue ones).
std::string ValueAsText(const TXmlValue& value);
std::string ValueToXmlText(const TXmlValue& value);

class TXmlBase : public virtual IXmlBase {
public:
    TXmlBase* ImplObject() override { return this; }

    // Runs when the last reference went; nodes and lists release what they hold without
    // allocating or recursing (a release may run while memory is exhausted, and trees are deep).
    virtual void DestroySelf() noexcept { Dispose(this); }

    // Destroys the object and gives its memory back to the heap or to its page.
    static void Dispose(TXmlBase* object) noexcept;
    static void Dispose(TXmlBase* object, TReleaseTally& tally) noexcept;
    // Ends an object whose members hold nothing any more (see ReleasePartsInto).
    static void Forget(TXmlBase* object, TReleaseTally& tally) noexcept;
    // Marks an object made in place on an arena page (offset of its start from the page).
    void SetPageOffset(uint32_t offset) noexcept { static_cast<IXmlBase*>(this)->pageOffset_ = offset; }
    bool OnPage() const noexcept { return static_cast<const IXmlBase*>(this)->pageOffset_ != 0; }
    uint32_t PageOffset() const noexcept { return static_cast<const IXmlBase*>(this)->pageOffset_; }

    // Counted-reference internals for the release walk.
    static int32_t References(const IXmlBase& object) noexcept {
        return object.refCount_.load(std::memory_order_acquire);
    }
    // Drops one reference without destroying; true when it was the last (the caller destroys).
    static bool DropReference(const IXmlBase& object) noexcept {
        return object.refCount_.fetch_sub(1, std::memory_order_acq_rel) == 1;
    }
    static void AddReferences(const IXmlBase& object, int32_t count) noexcept {
        object.refCount_.fetch_add(count, std::memory_order_relaxed);
    }
    // The first reference of an object just made, without an atomic operation when (as always)
    // its constructor kept none of its own.
    template <class T>
    static XmlRef<T> FirstReference(T* object) noexcept {
        const IXmlBase& base = *object;
        if (base.refCount_.load(std::memory_order_relaxed) == 0) base.refCount_.store(1, std::memory_order_relaxed);
        else base.refCount_.fetch_add(1, std::memory_order_relaxed);
        return XmlRef<T>(object, XmlAdoptRef{});
    }
    static bool DropReferences(const IXmlBase& object, int32_t count) noexcept {
        return object.refCount_.fetch_sub(count, std::memory_order_acq_rel) == count;
    }

};

// Makes a counted object on the arena's page, or on the heap without an arena.
template <class T, class... Args>
XmlRef<T> MakeXmlIn(TXmlArena* arena, Args&&... args) {
    if (!arena) return MakeXml<T>(std::forward<Args>(args)...);
    static_assert(alignof(T) <= 8);
    uint32_t offset = 0;
    void* slot = arena->Allocate(sizeof(T), offset);
    T* object;
    try {
        object = ::new (slot) T(std::forward<Args>(args)...);
    } catch (...) {
        TXmlPage::Release(TXmlArena::PageAt(slot, offset));
        throw;
    }
    object->SetPageOffset(offset);
    return TXmlBase::FirstReference(object);
}

// References to one name table for the nodes a load builds, handed out without an atomic
// operation each: taken from the table's count a batch at a time, the rest given back at the end.
class TTableShares {
public:
    explicit TTableShares(TXmlNameTable& table) noexcept : table_(&table) {}
    ~TTableShares();
    TTableShares(const TTableShares&) = delete;
    TTableShares& operator=(const TTableShares&) = delete;
    XmlRef<TXmlNameTable> Take() noexcept;
    bool Of(const TXmlNameTable& table) const noexcept { return &table == table_; }

private:
    static constexpr int32_t kBatch = 4096;
    TXmlNameTable* table_;
    int32_t left_ = 0;
};

// Makes a text, CDATA or comment node on the arena's page with its text right behind it in the
// same slot: one object to count and to give back. Without an arena, or for a text that fits in
// the value itself, the value keeps its own.
template <class T>
XmlRef<T> MakeXmlWithText(TXmlArena* arena, XmlRef<TXmlNameTable> table, std::string_view text) {
    if (!arena || text.size() <= 8 || text.size() > (size_t{1} << 14))
        return MakeXmlIn<T>(arena, std::move(table), TXmlValue::Text(text, arena));
    static_assert(alignof(T) <= 8);
    uint32_t offset = 0;
    void* slot = arena->Allocate(sizeof(T) + text.size(), offset);
    char* bytes = static_cast<char*>(slot) + sizeof(T);
    std::memcpy(bytes, text.data(), text.size());
    T* object;
    try {
        object = ::new (slot) T(std::move(table), TXmlValue::Borrowed(bytes, static_cast<uint32_t>(text.size())));
    } catch (...) {
        TXmlPage::Release(TXmlArena::PageAt(slot, offset));
        throw;
    }
    object->SetPageOffset(offset);
    return TXmlBase::FirstReference(object);
}

// The arena of the document that owns the list (none for a list outside a document).
TXmlArena* ArenaOf(const TXmlNodeList& list);

// The concrete object behind an interface reference (nullptr for none).
TXmlNode* ImplNode(IXmlNode* node);
TXmlNameTable* ImplTable(IXmlNameDictionary* table);

// ---------------------------------------------------------------------------------------------

class TXmlNameTable final : public TXmlBase, public IXmlNameDictionary {
public:
    explicit TXmlNameTable(int32_t bucketCount);

    int32_t IdOfName(std::string_view name) override;
    std::string NameOfId(int32_t index) override;

    // The name without a copy: "" for a negative index, TXmlError at or beyond NameCount.
    const std::string& NameRef(int32_t index) const {
        if (static_cast<uint32_t>(index) < names_.size()) return names_[static_cast<size_t>(index)];
        return NameRefSlow(index);
    }
    int32_t NameCount() const { return static_cast<int32_t>(names_.size()); }
    const std::vector<std::string>& Names() const { return names_; }
    int32_t BucketCount() const { return static_cast<int32_t>(buckets_.size()); }
    const std::vector<int32_t>& Bucket(int32_t bucket) const;  // TXmlError out of range

    // Replaces everything by stored names and buckets (binary load): names as given, then
    // bucketCount empty buckets (at least 1); SetBucket fills one (TXmlError out of range).
    // Bucket entries that are no valid name index are skipped by IdOfName.
    void ResetContent(std::vector<std::string> names, int32_t bucketCount);
    void SetBucket(int32_t bucket, std::vector<int32_t> indexes);

    static uint32_t HashName(std::string_view name);  // h * 33 + byte, wrapping

    // The standard names, at 0..4 in every table the library makes.
    int32_t TextIndex() const { return 0; }
    int32_t CDATAIndex() const { return 1; }
    int32_t CommentIndex() const { return 2; }
    int32_t DocumentIndex() const { return 3; }
    int32_t XmlIndex() const { return 4; }

    void SaveBinXml(TBinXmlWriter& writer) const;  // XmlBinary.cpp
    void LoadBinXml(TBinXmlReader& reader);        // XmlBinary.cpp

private:
    const std::string& NameRefSlow(int32_t index) const;
    int32_t FindIndexed(std::string_view name);  // -1: not there
    void IndexName(int32_t index);
    void BuildIndex();

    std::vector<std::string> names_;
    std::vector<std::vector<int32_t>> buckets_;

    // A second index over the same names for buckets that grew long (a file may fill one bucket
    // with colliding names): open addressing on a hash keyed per table, so lookups stay near O(1)
    // whatever the stored names are. Each slot holds the name index that the bucket's own scan
    // would find first, or -1. Built on first need; a stored table replaces it.
    uint64_t indexSeed_ = 0;
    std::vector<int32_t> index_;
    size_t indexed_ = 0;
    bool indexValid_ = false;
};

inline XmlRef<TXmlNameTable> TTableShares::Take() noexcept {
    if (left_ == 0) {
        TXmlBase::AddReferences(*table_, kBatch);
        left_ = kBatch;
    }
    --left_;
    return XmlRef<TXmlNameTable>(table_, XmlAdoptRef{});
}

// ---------------------------------------------------------------------------------------------

// Growth of every item and attribute array: 4, then 16, then a quarter of the capacity.
inline size_t GrownCapacity(size_t capacity) {
    if (capacity > 64) return capacity + capacity / 4;
    if (capacity > 8) return capacity + 16;
    return capacity + 4;
}

// The items of a child list in one word, as most lists hold a single node: the word is either
// that node's reference (or none), or, with its low bit set, a block whose head holds the size
// and the capacity, from the arena when one is given. The mode is told by the word's bits.
class TNodeItems {
public:
    using Item = XmlRef<TXmlNode>;
    TNodeItems() noexcept { ::new (&u_.one) Item(); }
    ~TNodeItems() {
        clear();
        FreeBlock();
        if (!Many()) u_.one.~Item();
    }
    TNodeItems(const TNodeItems&) = delete;
    TNodeItems& operator=(const TNodeItems&) = delete;

    size_t size() const noexcept { return Many() ? Head()->size : (u_.one ? 1 : 0); }
    size_t capacity() const noexcept { return Many() ? (Head()->capacity & ~kPaged) : 1; }
    Item* begin() noexcept { return Many() ? ItemsOf(Head()) : &u_.one; }
    Item* end() noexcept { return begin() + size(); }
    const Item* begin() const noexcept { return Many() ? ItemsOf(Head()) : &u_.one; }
    const Item* end() const noexcept { return begin() + size(); }
    Item& operator[](size_t i) noexcept { return begin()[i]; }
    const Item& operator[](size_t i) const noexcept { return begin()[i]; }
    Item& back() noexcept { return begin()[size() - 1]; }

    void reserve(size_t n, TXmlArena* arena = nullptr) {
        if (n <= capacity()) return;
        auto* fresh = static_cast<THead*>(AllocateBlock(sizeof(THead) + n * sizeof(Item), arena));
        const size_t count = size();
        fresh->size = static_cast<uint32_t>(count);
        fresh->capacity = static_cast<uint32_t>(n) | (arena ? kPaged : 0);
        Item* from = begin();
        std::uninitialized_move_n(from, count, ItemsOf(fresh));
        if (Many()) {
            std::destroy_n(from, count);
            FreeBlock();
        } else {
            u_.one.~Item();
        }
        u_.many = reinterpret_cast<uintptr_t>(fresh) | 1;
    }
    void push_back(Item item, TXmlArena* arena = nullptr) {
        if (!Many() && !u_.one) {
            u_.one = std::move(item);
            return;
        }
        const size_t n = size();
        if (n == capacity()) reserve(n < 4 ? 4 : GrownCapacity(n), arena);
        std::construct_at(ItemsOf(Head()) + n, std::move(item));
        ++Head()->size;
    }
    void pop_back() noexcept {
        if (Many()) std::destroy_at(ItemsOf(Head()) + --Head()->size);
        else u_.one.reset();
    }
    // Appends the references moved out of [first, last), with room made once.
    void append_moved(Item* first, Item* last, TXmlArena* arena) {
        const size_t n = static_cast<size_t>(last - first);
        if (n == 0) return;
        if (!Many() && !u_.one && n == 1) {
            u_.one = std::move(*first);
            return;
        }
        const size_t count = size();
        reserve(std::max<size_t>(count + n, 2), arena);  // two or more: a block
        std::uninitialized_move(first, last, ItemsOf(Head()) + count);
        Head()->size = static_cast<uint32_t>(count + n);
    }
    void insert(size_t position, Item item) {
        push_back(std::move(item));
        std::rotate(begin() + position, end() - 1, end());
    }
    void erase(size_t position) {
        std::move(begin() + position + 1, end(), begin() + position);
        pop_back();
    }
    void clear() noexcept {
        // Empty before the items go: a released node never sees a list that still names it.
        if (Many()) {
            const uint32_t n = std::exchange(Head()->size, 0);
            std::destroy_n(ItemsOf(Head()), n);
        } else {
            Item gone = std::move(u_.one);
        }
    }
    // Gives the block (already cleared of items) up: one from a page is counted into the tally,
    // a heap block freed. The items are back to one word.
    void ReleaseBlockInto(TReleaseTally& tally) noexcept {
        if (!Many()) return;
        THead* head = Head();
        if (head->capacity & kPaged) tally.Page(PageOfBlock(head));
        else xml::FreeBlock(head, false);
        ::new (&u_.one) Item();
    }

private:
    struct alignas(8) THead {
        uint32_t size;
        uint32_t capacity;  // with kPaged when the block lies on an arena page
    };
    static constexpr uint32_t kPaged = 0x80000000u;
    bool Many() const noexcept {
        uintptr_t bits;
        std::memcpy(&bits, &u_, sizeof bits);
        return (bits & 1) != 0;
    }
    THead* Head() const noexcept { return reinterpret_cast<THead*>(u_.many & ~uintptr_t{1}); }
    static Item* ItemsOf(THead* head) noexcept { return reinterpret_cast<Item*>(head + 1); }
    void FreeBlock() noexcept {
        if (!Many()) return;
        THead* head = Head();
        xml::FreeBlock(head, (head->capacity & kPaged) != 0);
        ::new (&u_.one) Item();
    }
    union U {
        U() {}
        ~U() {}
        Item one;
        uintptr_t many;
    } u_;
    static_assert(sizeof(Item) == sizeof(uintptr_t));
};

// An ordered list of counted node references. A child list has an Owner (plain link) and
// makes its items' Parent the Owner; a free-standing list has none.
class TXmlNodeList final : public TXmlBase, public IXmlNodeCollection {
public:
    explicit TXmlNodeList(TXmlNode* owner);
    ~TXmlNodeList() override;

    void DestroySelf() noexcept override;

    int32_t ItemCount() override { return Count(); }
    XmlRef<IXmlNode> ItemAt(int32_t position) override;
    std::string MarkupText() override;

    TXmlNode* Owner() const { return owner_; }
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    // Unchecked fast access for the library's loops (0 <= i < Count()).
    TXmlNode* Item(int32_t i) const { return items_[static_cast<size_t>(i)].get(); }

    // Positions are checked: out of range fails with ListIndexMessage. -1 inserts at the end.
    // Inserting a node into the list of itself or of one of its descendants fails.
    void Insert(const XmlRef<TXmlNode>& node, int32_t position = -1);
    // Append for builders (parser, binary reader): the node is new and on the Owner's table.
    void AppendNew(XmlRef<TXmlNode> node, TXmlArena* arena = nullptr);
    // The same for a run of new nodes at once, moved out of [first, last). Nodes that already
    // name the Owner as their Parent and were made on its table are not touched again.
    void AppendNew(XmlRef<TXmlNode>* first, XmlRef<TXmlNode>* last, TXmlArena* arena, bool linked = false);
    void Delete(int32_t position);
    void Clear();
    int32_t IndexOf(const TXmlNode* node) const;
    int32_t Remove(const TXmlNode* node);
    void Replace(int32_t position, const XmlRef<TXmlNode>& node);
    void Reserve(int32_t count, TXmlArena* arena = nullptr);

    // The owner is ending: its items lose their Parent, the list becomes free-standing.
    void DetachOwner();

    void ParseXml(TXmlSource& source, TXmlNameTable& table, bool preserveWhiteSpace);  // XmlParser.cpp
    void LoadBinXml(TBinXmlReader& reader, int32_t count);     // XmlBinary.cpp

private:
    friend class TXmlNode;
    void Adopt(TXmlNode* node);
    void Orphan(TXmlNode* node);

    TXmlNode* owner_;
    TNodeItems items_;
};

// ---------------------------------------------------------------------------------------------

struct TXmlAttrData {
    int32_t NameId;
    TXmlValue Value;
};

// An array whose size and capacity lie in its block, so that its owner keeps one pointer: every
// node has an attribute array and most have no attributes. Growth as GrownCapacity; the block
// comes from the arena when one is given, from the heap otherwise.
template <class T>
class TBlockVector {
public:
    TBlockVector() = default;
    ~TBlockVector() {
        clear();
        Free();
    }
    TBlockVector(const TBlockVector&) = delete;
    TBlockVector& operator=(const TBlockVector&) = delete;

    size_t size() const { return block_ ? block_->size : 0; }
    size_t capacity() const { return block_ ? block_->capacity & ~kPaged : 0; }
    bool empty() const { return size() == 0; }
    T* begin() { return block_ ? ItemsOf(block_) : nullptr; }
    T* end() { return begin() + size(); }
    const T* begin() const { return block_ ? ItemsOf(block_) : nullptr; }
    const T* end() const { return begin() + size(); }
    T& operator[](size_t i) { return ItemsOf(block_)[i]; }
    const T& operator[](size_t i) const { return ItemsOf(block_)[i]; }

    void reserve(size_t n, TXmlArena* arena = nullptr) {
        if (n <= capacity()) return;
        static_assert(alignof(T) <= 8);
        auto* fresh = static_cast<Head*>(AllocateBlock(sizeof(Head) + n * sizeof(T), arena));
        const size_t count = size();
        fresh->size = static_cast<uint32_t>(count);
        fresh->capacity = static_cast<uint32_t>(n) | (arena ? kPaged : 0);
        if (block_) {
            std::uninitialized_move_n(ItemsOf(block_), count, ItemsOf(fresh));
            std::destroy_n(ItemsOf(block_), count);
            Free();
        }
        block_ = fresh;
    }
    void push_back(T item, TXmlArena* arena = nullptr) {
        if (size() == capacity()) reserve(GrownCapacity(capacity()), arena);
        std::construct_at(ItemsOf(block_) + block_->size, std::move(item));
        ++block_->size;
    }
    // Appends in room made beforehand by reserve.
    template <class... Args>
    void emplace_reserved(Args&&... args) {
        std::construct_at(ItemsOf(block_) + block_->size, std::forward<Args>(args)...);
        ++block_->size;
    }
    void pop_back() { std::destroy_at(ItemsOf(block_) + --block_->size); }
    void erase(size_t position) {
        std::move(begin() + position + 1, end(), begin() + position);
        pop_back();
    }
    void clear() {
        if (!block_) return;
        const uint32_t n = std::exchange(block_->size, 0);  // empty before the items go
        std::destroy_n(ItemsOf(block_), n);
    }
    // Gives the block (already cleared of items) up: one from a page is counted into the tally,
    // a heap block freed.
    void ReleaseBlockInto(TReleaseTally& tally) noexcept {
        if (!block_) return;
        if (block_->capacity & kPaged) tally.Page(PageOfBlock(block_));
        else FreeBlock(block_, false);
        block_ = nullptr;
    }

private:
    struct alignas(8) Head {
        uint32_t size;
        uint32_t capacity;  // with kPaged when the block lies on an arena page
    };
    static constexpr uint32_t kPaged = 0x80000000u;
    static T* ItemsOf(Head* head) { return reinterpret_cast<T*>(head + 1); }
    static const T* ItemsOf(const Head* head) { return reinterpret_cast<const T*>(head + 1); }
    void Free() {
        if (block_) FreeBlock(block_, (block_->capacity & kPaged) != 0);
        block_ = nullptr;
    }
    Head* block_ = nullptr;
};

using TXmlAttrArray = TBlockVector<TXmlAttrData>;

// Moves a node (and everything below it) onto another table, interning its names there.
void RemapNames(TXmlNode& node, TXmlNameTable& newTable);

// The abstract node: parent link, name table, attributes, child list (made on first use).
class TXmlNode : public TXmlBase, public virtual IXmlNode {
public:
    ~TXmlNode() override;
    void DestroySelf() noexcept override { ReleaseTree(this); }
    static void ReleaseTree(TXmlNode* top) noexcept;
    // Gives up what the node holds on pages and its table into the tally (the release walk,
    // right before the node itself goes); true when nothing is left for its destructor to do.
    bool ReleasePartsInto(TReleaseTally& tally) noexcept;

    // Slot operations of the model (the interface operations of the same name use them).
    virtual TXmlNodeList& ChildListObject();
    // The child list, made on the arena's page when it is new (a load's builders).
    TXmlNodeList& ChildListIn(TXmlArena* arena);
    virtual void AssignNameId(int32_t /*index*/) {}

    // --- internals for the library ---
    // The kind code without a virtual call.
    int32_t Kind() const { return kind_; }
    TXmlNode* ParentNode() const { return parent_; }
    // For a builder that links a new node to the node whose list it will join (see AppendNew).
    void LinkParent(TXmlNode* parent) noexcept { parent_ = parent; }
    TXmlNameTable& Table() const { return *nameTable_; }
    const XmlRef<TXmlNameTable>& TableRef() const { return nameTable_; }
    // Gives the node another table without remapping (a document's binary load).
    void SetNameTable(XmlRef<TXmlNameTable> table) { nameTable_ = std::move(table); }
    TXmlNodeList* Children() const { return children_.get(); }
    bool HasChildNodes() const { return children_ && children_->Count() > 0; }

    const TXmlAttrArray& Attrs() const { return attrs_; }
    // Unchecked (0 <= position < AttributeCount): the parser's lookup of a tag with many attributes.
    TXmlAttrData& AttrAt(size_t position) { return attrs_[position]; }
    const TXmlAttrData* FindAttr(int32_t nameId) const;
    TXmlAttrData* FindAttr(int32_t nameId);
    // Replaces in place or appends (growth steps 4, 16, a quarter).
    void SetAttr(int32_t nameId, TaggedValue value);
    void SetAttr(int32_t nameId, TXmlValue value);
    void RemoveAttr(int32_t nameId);
    void ClearAttrList() { attrs_.clear(); }
    void ReserveAttrs(int32_t count, TXmlArena* arena = nullptr);
    // Binary load: every record appended as read, without a lookup.
    void AppendAttrUnchecked(int32_t nameId, TXmlValue value, TXmlArena* arena = nullptr) {
        attrs_.push_back({nameId, std::move(value)}, arena);
    }
    // The parser's load of a tag's attributes: count records with room made at once, each
    // given by name index and text.
    template <class Each>
    void AppendAttrTexts(size_t count, TXmlArena* arena, const Each& each) {
        if (count == 0) return;
        attrs_.reserve(attrs_.size() + count, arena);
        for (size_t i = 0; i < count; ++i) {
            const auto [nameId, text] = each(i);
            attrs_.emplace_reserved(TXmlAttrData{nameId, TXmlValue::Text(text, arena)});
        }
    }

    // The PreserveWhiteSpace flag of DocumentOf, or the library default.
    bool PreservesWhiteSpace();
    TXmlDocument* DocumentNode();

    void SaveBinXml(TBinXmlWriter& writer) const;  // XmlBinary.cpp
    void LoadBinXml(TBinXmlReader& reader);        // XmlBinary.cpp

    // --- IXmlNode ---
    XmlRef<IXmlNameDictionary> NameTableRef() override;
    std::string NameString() override;
    uint16_t ValueKind() override { return TaggedValue::vkText; }
    TaggedValue ReadValue() override { return TaggedValue(ReadText()); }
    void WriteValue(const TaggedValue& value) override;
    XmlRef<IXmlNode> Parent() override { return static_cast<IXmlNode*>(parent_); }
    std::string MarkupText() override;  // XmlWriter.cpp
    // Elements and documents copy their children when deep; the other kinds are leaves.
    XmlRef<IXmlNode> Duplicate(bool deep) override;
    XmlRef<IXmlDocument> DocumentOf() override;
    XmlRef<IXmlNodeCollection> ChildList() override;

    void AppendChildNode(const XmlRef<IXmlNode>& node) override;
    void InsertChildBefore(const XmlRef<IXmlNode>& node, const XmlRef<IXmlNode>& before) override;
    void ReplaceChildNode(const XmlRef<IXmlNode>& newNode, const XmlRef<IXmlNode>& oldNode) override;
    int32_t RemoveChildNode(const XmlRef<IXmlNode>& node) override;
    XmlRef<IXmlElement> AppendChildElementById(int32_t index) override;
    XmlRef<IXmlElement> AppendChildElement(std::string_view name) override;
    XmlRef<IXmlNode> AppendTextNode(std::string text) override;
    XmlRef<IXmlNode> AppendCDATANode(std::string text) override;
    XmlRef<IXmlNode> AppendCommentNode(std::string text) override;
    XmlRef<IXmlNode> AppendInstructionById(int32_t targetIndex, std::string data) override;
    XmlRef<IXmlNode> AppendInstruction(std::string_view target, std::string data) override;
    std::string ReadChildText(std::string_view name, std::string_view defaultText) override;
    std::string ReadChildTextById(int32_t index, std::string_view defaultText) override;
    void WriteChildText(std::string_view name, std::string text) override;
    void WriteChildTextById(int32_t index, std::string text) override;
    XmlRef<IXmlNode> RequireChildById(int32_t index) override;
    XmlRef<IXmlNode> RequireChild(std::string_view name) override;
    XmlRef<IXmlNode> ObtainChildById(int32_t index) override;
    XmlRef<IXmlNode> ObtainChild(std::string_view name) override;
    void ClearChildren() override;
    XmlRef<IXmlNodeCollection> FindChildElements(std::string_view name) override;
    XmlRef<IXmlNode> FindChildElement(std::string_view name) override;
    XmlRef<IXmlElement> FindChildElementByAttr(std::string_view elementName, std::string_view attrName,
                                               const TaggedValue& value) override;

    int32_t AttributeCount() override { return static_cast<int32_t>(attrs_.size()); }
    int32_t AttrNameIdAt(int32_t position) override;
    std::string AttrNameAt(int32_t position) override;
    void DeleteAttr(std::string_view name) override;
    void DeleteAttrById(int32_t index) override;
    void ClearAttrs() override { ClearAttrList(); }
    bool HasAttrById(int32_t index) override;
    bool HasAttr(std::string_view name) override;
    uint16_t AttrValueKindById(int32_t index) override;
    uint16_t AttrValueKind(std::string_view name) override;
    TaggedValue ReadVarAttrById(int32_t index, const TaggedValue& defaultValue) override;
    TaggedValue ReadVarAttr(std::string_view name, const TaggedValue& defaultValue) override;
    void WriteVarAttrById(int32_t index, const TaggedValue& value) override;
    void WriteVarAttr(std::string_view name, const TaggedValue& value) override;
    std::string RequireAttrById(int32_t index) override;
    std::string RequireAttr(std::string_view name) override;
    std::string ReadAttrById(int32_t index, std::string_view defaultText) override;
    std::string ReadAttr(std::string_view name, std::string_view defaultText) override;
    void WriteAttrById(int32_t index, std::string text) override;
    void WriteAttr(std::string_view name, std::string text) override;
    bool ReadBoolAttrById(int32_t index, bool defaultValue) override;
    bool ReadBoolAttr(std::string_view name, bool defaultValue) override;
    void WriteBoolAttrById(int32_t index, bool value) override;
    void WriteBoolAttr(std::string_view name, bool value) override;
    int32_t ReadIntAttrById(int32_t index, int32_t defaultValue) override;
    int32_t ReadIntAttr(std::string_view name, int32_t defaultValue) override;
    void WriteIntAttrById(int32_t index, int32_t value) override;
    void WriteIntAttr(std::string_view name, int32_t value) override;
    TDateTime ReadDateTimeAttrById(int32_t index, TDateTime defaultValue) override;
    TDateTime ReadDateTimeAttr(std::string_view name, TDateTime defaultValue) override;
    void WriteDateTimeAttrById(int32_t index, TDateTime value) override;
    void WriteDateTimeAttr(std::string_view name, TDateTime value) override;
    double ReadFloatAttrById(int32_t index, double defaultValue) override;
    double ReadFloatAttr(std::string_view name, double defaultValue) override;
    void WriteFloatAttrById(int32_t index, double value) override;
    void WriteFloatAttr(std::string_view name, double value) override;
    int32_t ReadHexAttr(std::string_view name, int32_t defaultValue) override;
    int32_t ReadHexAttrById(int32_t index, int32_t defaultValue) override;
    void WriteHexAttr(std::string_view name, int32_t value, int32_t digits) override;
    void WriteHexAttrById(int32_t index, int32_t value, int32_t digits) override;
    int32_t ReadChoiceAttr(std::string_view name, const std::vector<std::string>& allowed,
                           int32_t defaultValue) override;
    int32_t ReadChoiceAttrById(int32_t index, const std::vector<std::string>& allowed,
                               int32_t defaultValue) override;
    int32_t RequireChoiceAttr(std::string_view name, const std::vector<std::string>& allowed) override;
    int32_t RequireChoiceAttrById(int32_t index, const std::vector<std::string>& allowed) override;
    TaggedValue ReadPathValue(std::string_view path) override;
    void WritePathValue(std::string_view path, const TaggedValue& value) override;

    XmlRef<IXmlElement> ToElement() override { return nullptr; }
    XmlRef<IXmlNode> ToText() override { return nullptr; }
    XmlRef<IXmlNode> ToCDATA() override { return nullptr; }
    XmlRef<IXmlNode> ToComment() override { return nullptr; }
    XmlRef<IXmlNode> ToInstruction() override { return nullptr; }

protected:
    TXmlNode(XmlRef<TXmlNameTable> table, XmlNodeKind kind)
        : kind_(static_cast<uint8_t>(kind)), nameTable_(std::move(table)) {
        if (!nameTable_) RaiseXmlError(NotSupportedMessage);
    }

private:
    friend class TXmlNodeList;
    friend void RemapNames(TXmlNode& node, TXmlNameTable& newTable);
    TXmlNode* FirstChildById(int32_t index) const;
    int32_t ChoiceOf(int32_t index, const TXmlAttrData& attr, const std::vector<std::string>& allowed);

    const uint8_t kind_;  // first: kind and name index fill the word beside the base's vptr

protected:
    int32_t nameId_ = -1;  // elements: the name; instructions: the target

private:
    TXmlNode* parent_ = nullptr;
    XmlRef<TXmlNameTable> nameTable_;
    XmlRef<TXmlNodeList> children_;

protected:
    TXmlAttrArray attrs_;
};

// ---------------------------------------------------------------------------------------------

class TXmlElement final : public TXmlNode, public virtual IXmlElement {
public:
    TXmlElement(XmlRef<TXmlNameTable> table, int32_t nameId);

    void AssignNameId(int32_t index) override { nameId_ = index; }
    // A value kept with the element itself; its content only while it has no child nodes.
    // Held apart (most elements have none, and a value is five words).
    const TaggedValue& DirectValue() const;
    void SetDirectValue(TaggedValue value);  // an empty value (kind 0) drops it
    bool HoldsDirectValue() const { return direct_ != nullptr; }

    int32_t NameId() override { return nameId_; }
    int32_t NameIndex() const { return nameId_; }
    int32_t NodeKind() override { return xnkElement; }
    std::string ReadText() override;
    void WriteText(std::string text) override;
    uint16_t ValueKind() override;
    TaggedValue ReadValue() override;
    void WriteValue(const TaggedValue& value) override;
    XmlRef<IXmlElement> ToElement() override { return this; }

    void ReplaceTextWithCDATA(std::string_view text) override;
    void ReplaceTextWithBase64(const void* bytes, int32_t count, int32_t lineLength) override;
    std::string ReadBase64Text() override;

private:
    void RemoveTextChildren();
    std::unique_ptr<TaggedValue> direct_;
};

class TXmlText final : public TXmlNode {
public:
    TXmlText(XmlRef<TXmlNameTable> table, TaggedValue value);
    TXmlText(XmlRef<TXmlNameTable> table, TXmlValue value);

    TXmlValue Value;

    int32_t NameId() override { return Table().TextIndex(); }
    int32_t NodeKind() override { return xnkText; }
    std::string ReadText() override { return ValueToXmlText(Value); }
    void WriteText(std::string text) override { Value = TXmlValue::Text(text); }
    uint16_t ValueKind() override { return Value.KindCode(); }
    TaggedValue ReadValue() override { return Value.ToTagged(); }
    void WriteValue(const TaggedValue& value) override { Value = TXmlValue::Of(value); }
    XmlRef<IXmlNode> ToText() override { return this; }
};

class TXmlCharacterData : public TXmlNode {
public:
    TXmlValue Text;  // always a text value

    // Trimmed of 0x00..0x20 at both ends unless the document preserves white space.
    std::string ReadText() override;
    void WriteText(std::string text) override { Text = TXmlValue::Text(text); }

protected:
    TXmlCharacterData(XmlRef<TXmlNameTable> table, TXmlValue text, XmlNodeKind kind);
};

class TXmlCDATASection final : public TXmlCharacterData {
public:
    TXmlCDATASection(XmlRef<TXmlNameTable> table, std::string_view text);
    TXmlCDATASection(XmlRef<TXmlNameTable> table, TXmlValue text);
    int32_t NameId() override { return Table().CDATAIndex(); }
    int32_t NodeKind() override { return xnkCDATA; }
    XmlRef<IXmlNode> ToCDATA() override { return this; }
};

class TXmlComment final : public TXmlCharacterData {
public:
    TXmlComment(XmlRef<TXmlNameTable> table, std::string_view text);
    TXmlComment(XmlRef<TXmlNameTable> table, TXmlValue text);
    int32_t NameId() override { return Table().CommentIndex(); }
    int32_t NodeKind() override { return xnkComment; }
    XmlRef<IXmlNode> ToComment() override { return this; }
};

class TXmlProcessingInstruction final : public TXmlNode {
public:
    TXmlProcessingInstruction(XmlRef<TXmlNameTable> table, std::string data, int32_t targetId);

    void AssignNameId(int32_t index) override { nameId_ = index; }
    std::string Data;

    int32_t NameId() override { return nameId_; }
    int32_t TargetIndex() const { return nameId_; }
    int32_t NodeKind() override { return xnkInstruction; }
    std::string ReadText() override { return Data; }
    void WriteText(std::string text) override { Data = std::move(text); }
    XmlRef<IXmlNode> ToInstruction() override { return this; }
};

// The document node. Its constructor and node operations (NameId, NodeKind, ReadText,
// WriteText) are in XmlNodes.cpp; the IXmlDocument operations and
// NewXmlDocument in XmlDocument.cpp.
class TXmlDocument final : public TXmlNode, public virtual IXmlDocument {
public:
    explicit TXmlDocument(XmlRef<TXmlNameTable> table);

    bool PreserveWhiteSpace = DefaultPreserveWhiteSpace;
    // The pages this document's loads build their nodes on.
    TXmlArena Arena;

    int32_t NameId() override { return Table().DocumentIndex(); }
    int32_t NodeKind() override { return xnkDocument; }
    std::string ReadText() override;
    void WriteText(std::string text) override;

    // --- IXmlDocument (XmlDocument.cpp) ---
    XmlRef<IXmlElement> DocumentElement() override;
    std::string GetBinaryXml() override;
    bool GetPreserveWhiteSpace() override;
    void SetPreserveWhiteSpace(bool preserve) override;
    XmlRef<IXmlElement> NewDocumentById(std::string_view version, std::string_view encoding,
                                        int32_t rootNameIndex) override;
    XmlRef<IXmlElement> NewDocument(std::string_view version, std::string_view encoding,
                                    std::string_view rootName) override;
    XmlRef<IXmlElement> CreateElementById(int32_t index) override;
    XmlRef<IXmlElement> CreateElement(std::string_view name) override;
    XmlRef<IXmlNode> CreateText(std::string text) override;
    XmlRef<IXmlNode> CreateCDATASection(std::string text) override;
    XmlRef<IXmlNode> CreateComment(std::string text) override;
    XmlRef<IXmlNode> CreateProcessingInstruction(std::string_view target, std::string data) override;
    XmlRef<IXmlNode> CreateProcessingInstructionById(int32_t targetIndex, std::string data) override;
    void LoadXmlText(const std::string& text) override;
    void LoadBinaryXml(const std::string& data) override;
    void LoadFromStream(TByteStream& stream) override;
    void LoadFromFile(const std::string& fileName) override;
    void LoadFromResource(const char* resourceType, const char* resourceName) override;
    void SaveToStream(TByteStream& stream) override;
    void SaveToFile(const std::string& fileName) override;
    void SaveBinaryToStream(TByteStream& stream, uint32_t options) override;
    void SaveBinaryToFile(const std::string& fileName, uint32_t options) override;
};

// ---------------------------------------------------------------------------------------------
// Text building blocks shared by the serializer, the values and the document.

// Appends EscapeXmlText (text) to out.
void AppendEscaped(std::string& out, std::string_view text);
// Appends the node's XML text at depth 0 of its own layout.
void AppendMarkup(std::string& out, TXmlNode& node);
// Appends the XML text of every item in order (a document's or list's MarkupText).
void AppendListMarkup(std::string& out, TXmlNodeList& list);

// Builders for the parser and the binary reader: each makes the node on the table, appends it
// at the end of the list (without the checks of Insert) and returns it.
TXmlElement& AppendElementNode(TXmlNodeList& list, TXmlNameTable& table, int32_t nameId);
TXmlText& AppendTextNode(TXmlNodeList& list, TXmlNameTable& table, std::string text);
TXmlText& AppendTextNode(TXmlNodeList& list, TXmlNameTable& table, TaggedValue value);
TXmlCDATASection& AppendCDATANode(TXmlNodeList& list, TXmlNameTable& table, std::string text);
TXmlComment& AppendCommentNode(TXmlNodeList& list, TXmlNameTable& table, std::string text);
TXmlProcessingInstruction& AppendInstructionNode(TXmlNodeList& list, TXmlNameTable& table, int32_t targetId,
                                                 std::string data = {});

// ---------------------------------------------------------------------------------------------
// The one walk over a tree, in document order, with an explicit stack: a document nested
// 100,000 deep must not exhaust the thread's stack. The visitor keeps a Level record per node
// being walked: Enter (node, parent level or nullptr for the top, level) fills it and says
// whether to go below the node; after the node's children Leave (node, level, parent level)
// runs. Copy, text writing, binary writing, name remapping and joined text all use it; the
// release walk alone does without (it must not allocate).
template <class Node, class Visitor>
void WalkTree(Node& top, Visitor& visitor) {
    using Level = typename Visitor::Level;
    struct Frame {
        Node* node;
        int32_t next;
        Level level;
    };
    std::vector<Frame> stack;
    stack.push_back({&top, 0, Level{}});
    if (!visitor.Enter(top, static_cast<Level*>(nullptr), stack.back().level)) return;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const TXmlNodeList* children = frame.node->Children();
        if (children && frame.next < children->Count()) {
            Node* child = children->Item(frame.next++);
            Level level{};
            if (visitor.Enter(*child, &frame.level, level)) stack.push_back({child, 0, std::move(level)});
            continue;
        }
        Frame done = std::move(frame);
        stack.pop_back();
        visitor.Leave(*done.node, done.level, stack.empty() ? nullptr : &stack.back().level);
    }
}

}  // namespace xml
