// The tree's structure: counted release, child lists, the builders the parser and the binary
// reader use, and moving a subtree onto another name table.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "xml/XmlInternal.h"

namespace xml {

// ---- pages ----------------------------------------------------------------------------------

namespace {
// Pages grow from a size that suits a settings file to one that keeps a large load's page
// count small while staying below the sizes the C library maps one by one.
constexpr size_t kFirstPage = 4096;
constexpr size_t kLargestPage = 65536;
constexpr size_t kPageHead = sizeof(TXmlPage);
constexpr size_t kBlockHead = 8;  // an array block's page offset, keeping 8-byte alignment
constexpr std::align_val_t kPageAlign{alignof(TXmlPage)};  // more than a 32-bit heap promises

TXmlPage* NewPage(size_t size, int64_t live) {
    auto* page = ::new (::operator new(size, kPageAlign)) TXmlPage{};
    page->live.store(live, std::memory_order_relaxed);
    return page;
}

void FreePage(TXmlPage* page) noexcept {
    page->~TXmlPage();
    ::operator delete(page, kPageAlign);
}
}  // namespace

void TXmlPage::Release(TXmlPage* page) noexcept {
    if (page->live.fetch_sub(1, std::memory_order_acq_rel) == 1) FreePage(page);
}

void* TXmlArena::Allocate(size_t bytes, uint32_t& offset) {
    bytes = (bytes + 7) & ~size_t{7};
    if (static_cast<size_t>(end_ - next_) < bytes) return AllocateSlow(bytes, offset);
    void* slot = next_;
    next_ += bytes;
    ++handedOut_;
    offset = static_cast<uint32_t>(static_cast<char*>(slot) - reinterpret_cast<char*>(page_));
    return slot;
}

void* TXmlArena::AllocateSlow(size_t bytes, uint32_t& offset) {
    if (bytes > kLargestPage / 4) {  // a large array: a page of its own, kept by it alone
        TXmlPage* page = NewPage(kPageHead + bytes, 1);
        offset = kPageHead;
        return reinterpret_cast<char*>(page) + kPageHead;
    }
    const size_t size = nextPageSize_ ? nextPageSize_ : kFirstPage;
    TXmlPage* page = NewPage(size, TXmlPage::kBias);  // first: a failure leaves the arena as it was
    Retire();
    page_ = page;
    next_ = reinterpret_cast<char*>(page) + kPageHead;
    end_ = reinterpret_cast<char*>(page) + size;
    nextPageSize_ = std::min(size * 2, kLargestPage);
    return Allocate(bytes, offset);
}

void TXmlArena::Retire() noexcept {
    TXmlPage* page = std::exchange(page_, nullptr);
    if (!page) return;
    next_ = end_ = nullptr;
    const int64_t unused = TXmlPage::kBias - std::exchange(handedOut_, 0);
    if (page->live.fetch_sub(unused, std::memory_order_acq_rel) == unused) FreePage(page);
}

void* AllocateBlock(size_t bytes, TXmlArena* arena) {
    if (!arena) return ::operator new(bytes);
    uint32_t offset = 0;
    char* head = static_cast<char*>(arena->Allocate(kBlockHead + bytes, offset));
    std::memcpy(head, &offset, sizeof offset);
    return head + kBlockHead;
}

TXmlPage* PageOfBlock(void* block) noexcept {
    char* head = static_cast<char*>(block) - kBlockHead;
    uint32_t offset = 0;
    std::memcpy(&offset, head, sizeof offset);
    return TXmlArena::PageAt(head, offset);
}

void TReleaseTally::FlushPage() noexcept {
    if (page_ && page_->live.fetch_sub(pageShares_, std::memory_order_acq_rel) == pageShares_) FreePage(page_);
    page_ = nullptr;
    pageShares_ = 0;
}

void TReleaseTally::OtherTable(TXmlNameTable* table) noexcept {
    if (table_ && TXmlBase::DropReferences(*table_, tableShares_)) table_->DestroySelf();
    table_ = table;
    tableShares_ = 1;
}

void TReleaseTally::Flush() noexcept {
    FlushPage();
    if (table_ && TXmlBase::DropReferences(*table_, tableShares_)) table_->DestroySelf();
    table_ = nullptr;
    tableShares_ = 0;
}

TTableShares::~TTableShares() {
    if (left_ > 0 && TXmlBase::DropReferences(*table_, left_)) table_->DestroySelf();
}

void FreeBlock(void* block, bool paged) noexcept {
    if (!paged) {
        ::operator delete(block);
        return;
    }
    char* head = static_cast<char*>(block) - kBlockHead;
    uint32_t offset = 0;
    std::memcpy(&offset, head, sizeof offset);
    TXmlPage::Release(TXmlArena::PageAt(head, offset));
}

// ---- kept values ----------------------------------------------------------------------------

TXmlValue TXmlValue::TextHeld(std::string_view text, TXmlArena* arena) {
    TXmlValue value;
    value.kind_ = TaggedValue::vkText;
    if (text.size() > UINT32_MAX) {  // beyond the length field: kept whole
        value.u_.other = new TaggedValue(std::string(text));
        value.store_ = kOther;
        return value;
    }
    value.u_.text = static_cast<char*>(AllocateBlock(text.size(), arena));
    std::memcpy(value.u_.text, text.data(), text.size());
    value.size_ = static_cast<uint32_t>(text.size());
    value.store_ = arena ? kPagedText : kHeapText;
    return value;
}

TXmlValue TXmlValue::Of(const TaggedValue& value, TXmlArena* arena) {
    if (const auto* text = std::get_if<std::string>(&value.payload_); text && value.kind_ == TaggedValue::vkText)
        return Text(*text, arena);
    return Of(TaggedValue(value), arena);  // a number copies cheaply; a rare kind is kept whole
}

TXmlValue TXmlValue::Of(TaggedValue&& value, TXmlArena* arena) {
    TXmlValue kept;
    const TaggedValue::Payload& payload = value.payload_;
    if (const auto* i = std::get_if<int64_t>(&payload)) {
        kept.u_.i = *i;
        kept.store_ = kInt;
    } else if (const auto* d = std::get_if<double>(&payload)) {
        kept.u_.d = *d;
        kept.store_ = kFloat;
    } else if (const auto* b = std::get_if<bool>(&payload)) {
        kept.u_.i = 0;
        kept.u_.b = *b;
        kept.store_ = kBool;
    } else if (std::holds_alternative<std::monostate>(payload)) {
        kept.store_ = kNone;
    } else if (const auto* text = std::get_if<std::string>(&payload); text && value.kind_ == TaggedValue::vkText) {
        return Text(*text, arena);
    } else {
        kept.u_.other = new TaggedValue(std::move(value));
        kept.store_ = kOther;
        kept.kind_ = kept.u_.other->kind_;
        return kept;
    }
    kept.kind_ = value.kind_;
    return kept;
}

TXmlValue TXmlValue::Copy(TXmlArena* arena) const {
    if (store_ >= kHeapText && store_ <= kBorrowedText) return Text(TextView(), arena);
    if (store_ == kOther) return Of(*u_.other, arena);
    TXmlValue copy;
    copy.u_ = u_;
    copy.size_ = size_;
    copy.kind_ = kind_;
    copy.store_ = store_;
    return copy;
}

TaggedValue TXmlValue::ToTagged() const {
    switch (store_) {
    case kInt: return TaggedValue(kind_, u_.i);
    case kFloat: return TaggedValue(kind_, u_.d);
    case kBool: return TaggedValue(kind_, u_.b);
    case kInline:
    case kHeapText:
    case kPagedText:
    case kBorrowedText: return TaggedValue(std::string(TextView()));
    case kOther: return *u_.other;
    default: return TaggedValue(kind_, std::monostate{});
    }
}

void TXmlValue::ReleaseHeldInto(TReleaseTally& tally) noexcept {
    if (store_ == kPagedText) tally.Page(PageOfBlock(u_.text));
    else FreeHeld();
    Forget();
}

void TXmlValue::FreeHeld() noexcept {
    switch (store_) {
    case kHeapText: FreeBlock(u_.text, false); break;
    case kPagedText: FreeBlock(u_.text, true); break;
    case kOther: delete u_.other; break;
    default: break;
    }
}

std::string_view ValueXmlText(const TXmlValue& value, TValueTextRoom& room) {
    const uint16_t kind = value.KindCode();
    if (value.IsText()) return value.TextView();
    if (kind == TaggedValue::vkEmpty) return {};
    if (kind == TaggedValue::vkBoolean) return value.BoolPayload() ? "1" : "0";
    if (IsIntegerKind(kind)) {
        const auto end = std::to_chars(room.digits, room.digits + sizeof room.digits, value.IntPayload()).ptr;
        return {room.digits, static_cast<size_t>(end - room.digits)};
    }
    room.text = OtherValueXmlText(value.ToTagged());
    return room.text;
}

std::string ValueAsText(const TXmlValue& value) {
    if (value.IsText()) return std::string(value.TextView());
    return ValueAsText(value.ToTagged());
}

std::string ValueToXmlText(const TXmlValue& value) {
    TValueTextRoom room;
    const std::string_view text = ValueXmlText(value, room);
    return room.text.data() == text.data() ? std::move(room.text) : std::string(text);
}

TXmlArena* ArenaOf(const TXmlNodeList& list) {
    TXmlDocument* document = list.Owner() ? list.Owner()->DocumentNode() : nullptr;
    return document ? &document->Arena : nullptr;
}

void TXmlBase::Dispose(TXmlBase* object) noexcept {
    void* whole = dynamic_cast<void*>(object);
    const uint32_t offset = object->PageOffset();
    object->~TXmlBase();
    if (offset == 0) ::operator delete(whole);
    else TXmlPage::Release(TXmlArena::PageAt(whole, offset));
}

void TXmlBase::Dispose(TXmlBase* object, TReleaseTally& tally) noexcept {
    void* whole = dynamic_cast<void*>(object);
    const uint32_t offset = object->PageOffset();
    object->~TXmlBase();
    if (offset == 0) ::operator delete(whole);
    else tally.Page(TXmlArena::PageAt(whole, offset));
}

// ---- counted release ------------------------------------------------------------------------

void IXmlBase::DestroyObject(const IXmlBase* object) noexcept {
    if (TXmlBase* impl = const_cast<IXmlBase*>(object)->ImplObject()) impl->DestroySelf();
    else std::unique_ptr<const IXmlBase>{object}.reset();
}

// Destroys a node whose last reference went, with every node below it that nothing else holds,
// allocating nothing and with no recursion: the parent link of a dying node is free and leads
// back up the way the walk came down, and a dying child list is its own stack of items to do.
void TXmlNode::ReleaseTree(TXmlNode* top) noexcept {
    TReleaseTally tally;
    TXmlNode* node = top;
    // A list is done from its back; turned round first, its nodes go in the order a load made
    // them, upwards through memory, as the processor's prefetching expects.
    const auto turn = [](TXmlNode* n) {
        TXmlNodeList* list = n->children_.get();
        if (list && list->items_.size() > 1 && References(*list) == 1)  // nobody else sees it
            std::reverse(list->items_.begin(), list->items_.end());
    };
    turn(node);
    while (true) {
        TXmlNodeList* list = node->children_.get();
        if (list && list->items_.size() > 0 && References(*list) == 1) {  // nobody else sees the list
            TXmlNode* child = list->items_.back().release();
            list->items_.pop_back();
            // The walk is bound by memory latency: start fetching the next sibling now.
            if (list->items_.size() > 0) __builtin_prefetch(list->items_.back().get());
            // The list's reference is mostly the only one: then it goes without an atomic
            // operation (nobody else holds the node to raise its count meanwhile).
            const bool last = References(*child) == 1;
            if (!last) list->Orphan(child);  // it lives on
            if (last || DropReference(*child)) {
                child->parent_ = node;
                node = child;
                turn(node);
            }
            continue;
        }
        TXmlNode* up = node->parent_;
        const bool done = node == top;
        if (list && References(*list) == 1) {  // the list goes with its node, empty by now
            node->children_.release();
            list->items_.ReleaseBlockInto(tally);
            Forget(list, tally);
        }
        if (node->ReleasePartsInto(tally)) Forget(node, tally);
        else Dispose(node, tally);
        if (done) return;
        node = up;
    }
}

bool TXmlNode::ReleasePartsInto(TReleaseTally& tally) noexcept {
    for (TXmlAttrData& a : attrs_) a.Value.ReleaseInto(tally);
    attrs_.clear();
    attrs_.ReleaseBlockInto(tally);
    tally.Table(nameTable_.release());
    if (children_) return false;
    switch (kind_) {
    case xnkText: static_cast<TXmlText*>(this)->Value.ReleaseInto(tally); return true;
    case xnkCDATA:
    case xnkComment: static_cast<TXmlCharacterData*>(this)->Text.ReleaseInto(tally); return true;
    case xnkElement: return !static_cast<TXmlElement*>(this)->HoldsDirectValue();
    default: return false;
    }
}

void TXmlBase::Forget(TXmlBase* object, TReleaseTally& tally) noexcept {
    // What the object held is given up: its destructor would only find empty members, so a
    // page's object just ends there (a heap object still goes through its destructor).
    const uint32_t offset = object->PageOffset();
    if (offset == 0) Dispose(object, tally);
    else tally.Page(TXmlArena::PageAt(dynamic_cast<void*>(object), offset));
}

void TXmlNodeList::DestroySelf() noexcept {
    while (items_.size() > 0) {
        TXmlNode* item = items_.back().release();
        items_.pop_back();
        Orphan(item);
        if (DropReference(*item)) TXmlNode::ReleaseTree(item);
    }
    Dispose(this);
}

// ---- TXmlNodeList ---------------------------------------------------------------------------

TXmlNodeList::TXmlNodeList(TXmlNode* owner) : owner_(owner) {}

TXmlNodeList::~TXmlNodeList() { Clear(); }

XmlRef<IXmlNode> TXmlNodeList::ItemAt(int32_t position) {
    if (position < 0 || position >= Count()) RaiseXmlError(ListIndexMessage);
    return static_cast<IXmlNode*>(Item(position));
}

void TXmlNodeList::Adopt(TXmlNode* node) {
    if (!owner_) return;
    node->parent_ = owner_;
    if (node->nameTable_.get() != owner_->nameTable_.get()) RemapNames(*node, *owner_->nameTable_);
}

void TXmlNodeList::Orphan(TXmlNode* node) {
    if (owner_ && node->parent_ == owner_) node->parent_ = nullptr;
}

namespace {
// A node may not enter the child list of itself or of a node below it: the tree would hold
// itself and never be released.
void CheckNoCycle(const TXmlNode* owner, const TXmlNode* node) {
    if (!node) RaiseXmlError(NotSupportedMessage);
    if (!owner) return;
    if (node == owner) RaiseXmlError(NotSupportedMessage);
    if (!node->HasChildNodes()) return;  // a leaf cannot be an ancestor
    for (const TXmlNode* p = owner->ParentNode(); p; p = p->ParentNode())
        if (p == node) RaiseXmlError(NotSupportedMessage);
}
}  // namespace

void TXmlNodeList::Insert(const XmlRef<TXmlNode>& node, int32_t position) {
    if (position == -1) position = Count();
    if (position < 0 || position > Count()) RaiseXmlError(ListIndexMessage);
    CheckNoCycle(owner_, node.get());
    items_.insert(static_cast<size_t>(position), node);
    Adopt(node.get());
}

void TXmlNodeList::AppendNew(XmlRef<TXmlNode> node, TXmlArena* arena) {
    TXmlNode* raw = node.get();
    items_.push_back(std::move(node), arena);
    Adopt(raw);
}

void TXmlNodeList::AppendNew(XmlRef<TXmlNode>* first, XmlRef<TXmlNode>* last, TXmlArena* arena, bool linked) {
    if (linked || !owner_) {
        items_.append_moved(first, last, arena);
        return;
    }
    items_.reserve(items_.size() + static_cast<size_t>(last - first), arena);
    TXmlNameTable* const table = owner_->nameTable_.get();
    for (; first != last; ++first) {
        TXmlNode* raw = first->get();
        items_.push_back(std::move(*first), arena);
        if (!owner_) continue;
        raw->parent_ = owner_;
        if (raw->nameTable_.get() != table) RemapNames(*raw, *table);
    }
}

void TXmlNodeList::Delete(int32_t position) {
    if (position < 0 || position >= Count()) RaiseXmlError(ListIndexMessage);
    XmlRef<TXmlNode> node = std::move(items_[static_cast<size_t>(position)]);
    items_.erase(static_cast<size_t>(position));
    Orphan(node.get());
}

void TXmlNodeList::Clear() {
    for (auto& item : items_) Orphan(item.get());
    items_.clear();
}

int32_t TXmlNodeList::IndexOf(const TXmlNode* node) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].get() == node) return static_cast<int32_t>(i);
    return -1;
}

int32_t TXmlNodeList::Remove(const TXmlNode* node) {
    const int32_t position = IndexOf(node);
    if (position >= 0) Delete(position);
    return position;
}

void TXmlNodeList::Replace(int32_t position, const XmlRef<TXmlNode>& node) {
    if (position < 0 || position >= Count()) RaiseXmlError(ListIndexMessage);
    auto& slot = items_[static_cast<size_t>(position)];
    if (slot == node) return;
    CheckNoCycle(owner_, node.get());
    XmlRef<TXmlNode> old = std::move(slot);
    slot = node;
    Orphan(old.get());
    Adopt(node.get());
}

void TXmlNodeList::Reserve(int32_t count, TXmlArena* arena) {
    if (count > 0) items_.reserve(static_cast<size_t>(count), arena);
}

void TXmlNodeList::DetachOwner() {
    for (auto& item : items_) Orphan(item.get());
    owner_ = nullptr;
}

// ---- builders -------------------------------------------------------------------------------

namespace {
template <class T, class... Args>
T& AppendBuilt(TXmlNodeList& list, Args&&... args) {
    XmlRef<T> node = MakeXml<T>(std::forward<Args>(args)...);
    T& result = *node;
    list.AppendNew(std::move(node));
    return result;
}
}  // namespace

TXmlElement& AppendElementNode(TXmlNodeList& list, TXmlNameTable& table, int32_t nameId) {
    return AppendBuilt<TXmlElement>(list, &table, nameId);
}

TXmlText& AppendTextNode(TXmlNodeList& list, TXmlNameTable& table, std::string text) {
    return AppendBuilt<TXmlText>(list, &table, TXmlValue::Text(text));
}

TXmlText& AppendTextNode(TXmlNodeList& list, TXmlNameTable& table, TaggedValue value) {
    return AppendBuilt<TXmlText>(list, &table, std::move(value));
}

TXmlCDATASection& AppendCDATANode(TXmlNodeList& list, TXmlNameTable& table, std::string text) {
    return AppendBuilt<TXmlCDATASection>(list, &table, std::move(text));
}

TXmlComment& AppendCommentNode(TXmlNodeList& list, TXmlNameTable& table, std::string text) {
    return AppendBuilt<TXmlComment>(list, &table, std::move(text));
}

TXmlProcessingInstruction& AppendInstructionNode(TXmlNodeList& list, TXmlNameTable& table, int32_t targetId,
                                                 std::string data) {
    return AppendBuilt<TXmlProcessingInstruction>(list, &table, std::move(data), targetId);
}

// ---- RemapNames -----------------------------------------------------------------------------

void RemapNames(TXmlNode& top, TXmlNameTable& newTable) {
    if (&top.Table() == &newTable) return;
    XmlRef<TXmlNameTable> oldTable = top.TableRef();  // kept alive while the map is used
    std::vector<int32_t> map(static_cast<size_t>(oldTable->NameCount()));
    for (int32_t i = 0; i < oldTable->NameCount(); ++i)
        map[static_cast<size_t>(i)] = newTable.IdOfName(oldTable->NameRef(i));
    auto mapped = [&map](int32_t id) {
        return id >= 0 && static_cast<size_t>(id) < map.size() ? map[static_cast<size_t>(id)] : id;
    };
    struct RemapVisitor {
        struct Level {};
        const XmlRef<TXmlNameTable> target;
        const XmlRef<TXmlNameTable>& oldTable;
        TXmlNameTable& newTable;
        decltype(mapped)& map;
        bool Enter(TXmlNode& node, Level*, Level&) {
            if (node.TableRef() == target) return false;
            if (node.TableRef() != oldTable) {  // a subtree on yet another table maps its own names
                RemapNames(node, newTable);
                return false;
            }
            const int32_t kind = node.Kind();
            if (kind == xnkElement || kind == xnkInstruction) node.AssignNameId(map(node.NameId()));
            for (size_t i = 0; i < node.Attrs().size(); ++i) node.AttrAt(i).NameId = map(node.AttrAt(i).NameId);
            node.SetNameTable(target);
            return true;
        }
        void Leave(TXmlNode&, Level&, Level*) {}
    } visitor{XmlRef<TXmlNameTable>(&newTable), oldTable, newTable, mapped};
    WalkTree(top, visitor);
}

}  // namespace xml
