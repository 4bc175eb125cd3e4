// The node model: counted release, name tables, node lists, attributes, the node classes and
// every node operation offered through IXmlNode and IXmlElement.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/CodePage.h"
#include "xml/XmlChars.h"
#include "xml/XmlInternal.h"

namespace xml {

// ---- counted release ------------------------------------------------------------------------

void IXmlBase::DestroyObject(const IXmlBase* object) noexcept {
    if (TXmlBase* impl = const_cast<IXmlBase*>(object)->ImplObject()) impl->DestroySelf();
    else std::unique_ptr<const IXmlBase>{object}.reset();
}

// Destroys a node whose last reference went, with every node below it that nothing else holds,
// allocating nothing and with no recursion: the parent link of a dying node is free and leads
// back up the way the walk came down, and a dying child list is its own stack of items to do.
void TXmlNode::ReleaseTree(TXmlNode* top) noexcept {
    TXmlNode* node = top;
    while (true) {
        TXmlNodeList* list = node->children_.get();
        if (list && list->items_.size() > 0 && References(*list) == 1) {  // nobody else sees the list
            TXmlNode* child = list->items_.back().release();
            list->items_.pop_back();
            list->Orphan(child);
            if (DropReference(*child)) {
                child->parent_ = node;
                node = child;
            }
            continue;
        }
        TXmlNode* up = node->parent_;
        const bool done = node == top;
        std::unique_ptr<TXmlNode>{node}.reset();
        if (done) return;
        node = up;
    }
}

void TXmlNodeList::DestroySelf() noexcept {
    while (items_.size() > 0) {
        TXmlNode* item = items_.back().release();
        items_.pop_back();
        Orphan(item);
        if (DropReference(*item)) TXmlNode::ReleaseTree(item);
    }
    std::unique_ptr<TXmlNodeList>{this}.reset();
}

TXmlNode* ImplNode(IXmlNode* node) {
    if (!node) return nullptr;
    auto* impl = dynamic_cast<TXmlNode*>(node->ImplObject());
    if (!impl) RaiseXmlError(NotSupportedMessage);
    return impl;
}

TXmlNameTable* ImplTable(IXmlNameDictionary* table) {
    if (!table) return nullptr;
    auto* impl = dynamic_cast<TXmlNameTable*>(table->ImplObject());
    if (!impl) RaiseXmlError(NotSupportedMessage);
    return impl;
}

namespace {

[[noreturn]] void NameIndexError() { RaiseXmlError("Ошибка получения имени: индекс выходит за пределы"); }

[[noreturn]] void AttrIndexError() { RaiseXmlError("Ошибка получения атрибута: индекс выходит за пределы"); }

std::string Format1(const char* pattern, const std::string& a) {
    std::string out;
    for (const char* p = pattern; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += a;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

}  // namespace

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

void TXmlNodeList::AppendNew(XmlRef<TXmlNode> node) {
    TXmlNode* raw = node.get();
    items_.push_back(std::move(node));
    Adopt(raw);
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

void TXmlNodeList::Reserve(int32_t count) {
    if (count > 0) items_.reserve(static_cast<size_t>(count));
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
    return AppendBuilt<TXmlText>(list, &table, TaggedValue(std::move(text)));
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

// ---- TXmlNode: basics -----------------------------------------------------------------------

TXmlNode::TXmlNode(XmlRef<TXmlNameTable> table, XmlNodeKind kind)
    : kind_(static_cast<uint8_t>(kind)), nameTable_(std::move(table)) {
    if (!nameTable_) RaiseXmlError(NotSupportedMessage);
}

TXmlNode::~TXmlNode() {
    // A list that a caller still holds must not reach this node any more.
    if (children_) children_->DetachOwner();
}

TXmlNodeList& TXmlNode::ChildListObject() {
    if (!children_) children_ = MakeXml<TXmlNodeList>(this);
    return *children_;
}

XmlRef<IXmlNameDictionary> TXmlNode::NameTableRef() { return static_cast<IXmlNameDictionary*>(nameTable_.get()); }

std::string TXmlNode::NameString() { return nameTable_->NameRef(NameId()); }

void TXmlNode::WriteValue(const TaggedValue& value) { WriteText(ValueAsText(value)); }

TXmlDocument* TXmlNode::DocumentNode() {
    for (TXmlNode* n = this; n; n = n->parent_)
        if (n->Kind() == xnkDocument) return static_cast<TXmlDocument*>(n);
    return nullptr;
}

bool TXmlNode::PreservesWhiteSpace() {
    const TXmlDocument* doc = DocumentNode();
    return doc ? doc->PreserveWhiteSpace : DefaultPreserveWhiteSpace;
}

XmlRef<IXmlDocument> TXmlNode::DocumentOf() { return static_cast<IXmlDocument*>(DocumentNode()); }

XmlRef<IXmlNodeCollection> TXmlNode::ChildList() { return static_cast<IXmlNodeCollection*>(&ChildListObject()); }

// ---- attributes -----------------------------------------------------------------------------

const TXmlAttrData* TXmlNode::FindAttr(int32_t nameId) const {
    for (const TXmlAttrData& a : attrs_)
        if (a.NameId == nameId) return &a;
    return nullptr;
}

TXmlAttrData* TXmlNode::FindAttr(int32_t nameId) {
    for (TXmlAttrData& a : attrs_)
        if (a.NameId == nameId) return &a;
    return nullptr;
}

void TXmlNode::SetAttr(int32_t nameId, TaggedValue value) {
    if (TXmlAttrData* a = FindAttr(nameId)) {
        a->Value = std::move(value);
        return;
    }
    // An attribute needs a name of the table: an empty or unknown one could not be written.
    if (nameId < 0 || nameId >= nameTable_->NameCount()) RaiseXmlError("Некорректное имя атрибута");
    attrs_.push_back({nameId, std::move(value)});
}

void TXmlNode::AppendAttrUnchecked(int32_t nameId, TaggedValue value) {
    attrs_.push_back({nameId, std::move(value)});
}

void TXmlNode::RemoveAttr(int32_t nameId) {
    for (size_t i = 0; i < attrs_.size(); ++i) {
        if (attrs_[i].NameId == nameId) {
            attrs_.erase(i);
            return;
        }
    }
}

void TXmlNode::ReserveAttrs(int32_t count) {
    if (count > 0) attrs_.reserve(static_cast<size_t>(count));
}

int32_t TXmlNode::AttrNameIdAt(int32_t position) {
    if (position < 0 || position >= AttributeCount()) AttrIndexError();
    return attrs_[static_cast<size_t>(position)].NameId;
}

std::string TXmlNode::AttrNameAt(int32_t position) { return nameTable_->NameRef(AttrNameIdAt(position)); }

void TXmlNode::DeleteAttr(std::string_view name) { RemoveAttr(nameTable_->IdOfName(name)); }
void TXmlNode::DeleteAttrById(int32_t index) { RemoveAttr(index); }
bool TXmlNode::HasAttrById(int32_t index) { return FindAttr(index) != nullptr; }
bool TXmlNode::HasAttr(std::string_view name) { return HasAttrById(nameTable_->IdOfName(name)); }

uint16_t TXmlNode::AttrValueKindById(int32_t index) {
    const TXmlAttrData* a = FindAttr(index);
    return a ? a->Value.KindCode() : static_cast<uint16_t>(TaggedValue::vkText);
}
uint16_t TXmlNode::AttrValueKind(std::string_view name) { return AttrValueKindById(nameTable_->IdOfName(name)); }

TaggedValue TXmlNode::ReadVarAttrById(int32_t index, const TaggedValue& defaultValue) {
    const TXmlAttrData* a = FindAttr(index);
    return a ? a->Value : defaultValue;
}
TaggedValue TXmlNode::ReadVarAttr(std::string_view name, const TaggedValue& defaultValue) {
    return ReadVarAttrById(nameTable_->IdOfName(name), defaultValue);
}
void TXmlNode::WriteVarAttrById(int32_t index, const TaggedValue& value) { SetAttr(index, value); }
void TXmlNode::WriteVarAttr(std::string_view name, const TaggedValue& value) {
    SetAttr(nameTable_->IdOfName(name), value);
}

std::string TXmlNode::RequireAttrById(int32_t index) {
    const TXmlAttrData* a = FindAttr(index);
    if (!a) RaiseXmlError(Format1("Не задан атрибут \"%s\"", nameTable_->NameRef(index)));
    return ValueAsText(a->Value);
}
std::string TXmlNode::RequireAttr(std::string_view name) { return RequireAttrById(nameTable_->IdOfName(name)); }

std::string TXmlNode::ReadAttrById(int32_t index, std::string_view defaultText) {
    const TXmlAttrData* a = FindAttr(index);
    return a ? ValueAsText(a->Value) : std::string(defaultText);
}
std::string TXmlNode::ReadAttr(std::string_view name, std::string_view defaultText) {
    return ReadAttrById(nameTable_->IdOfName(name), defaultText);
}
void TXmlNode::WriteAttrById(int32_t index, std::string text) { SetAttr(index, TaggedValue(std::move(text))); }
void TXmlNode::WriteAttr(std::string_view name, std::string text) {
    SetAttr(nameTable_->IdOfName(name), TaggedValue(std::move(text)));
}

bool TXmlNode::ReadBoolAttrById(int32_t index, bool defaultValue) {
    const TXmlAttrData* a = FindAttr(index);
    return a ? ValueAsBoolean(a->Value) : defaultValue;
}
bool TXmlNode::ReadBoolAttr(std::string_view name, bool defaultValue) {
    return ReadBoolAttrById(nameTable_->IdOfName(name), defaultValue);
}
void TXmlNode::WriteBoolAttrById(int32_t index, bool value) { SetAttr(index, TaggedValue::Boolean(value)); }
void TXmlNode::WriteBoolAttr(std::string_view name, bool value) {
    SetAttr(nameTable_->IdOfName(name), TaggedValue::Boolean(value));
}

int32_t TXmlNode::ReadIntAttrById(int32_t index, int32_t defaultValue) {
    const TXmlAttrData* a = FindAttr(index);
    return a ? ValueAsInt32(a->Value) : defaultValue;
}
int32_t TXmlNode::ReadIntAttr(std::string_view name, int32_t defaultValue) {
    return ReadIntAttrById(nameTable_->IdOfName(name), defaultValue);
}
void TXmlNode::WriteIntAttrById(int32_t index, int32_t value) { SetAttr(index, TaggedValue::Int32(value)); }
void TXmlNode::WriteIntAttr(std::string_view name, int32_t value) {
    SetAttr(nameTable_->IdOfName(name), TaggedValue::Int32(value));
}

TDateTime TXmlNode::ReadDateTimeAttrById(int32_t index, TDateTime defaultValue) {
    const TXmlAttrData* a = FindAttr(index);
    if (!a) return defaultValue;
    const uint16_t k = a->Value.KindCode();
    if (k == TaggedValue::vkText || k == TaggedValue::vkWideText) return XmlTextToDateTime(ValueAsText(a->Value));
    return ValueAsDateTime(a->Value);
}
TDateTime TXmlNode::ReadDateTimeAttr(std::string_view name, TDateTime defaultValue) {
    return ReadDateTimeAttrById(nameTable_->IdOfName(name), defaultValue);
}
void TXmlNode::WriteDateTimeAttrById(int32_t index, TDateTime value) { SetAttr(index, TaggedValue::DateTime(value)); }
void TXmlNode::WriteDateTimeAttr(std::string_view name, TDateTime value) {
    SetAttr(nameTable_->IdOfName(name), TaggedValue::DateTime(value));
}

double TXmlNode::ReadFloatAttrById(int32_t index, double defaultValue) {
    const TXmlAttrData* a = FindAttr(index);
    if (!a) return defaultValue;
    if (IsNumericKind(a->Value.KindCode())) return ValueAsFloat(a->Value);
    return XmlTextToFloat(ValueAsText(a->Value));
}
double TXmlNode::ReadFloatAttr(std::string_view name, double defaultValue) {
    return ReadFloatAttrById(nameTable_->IdOfName(name), defaultValue);
}
void TXmlNode::WriteFloatAttrById(int32_t index, double value) { SetAttr(index, TaggedValue::Float64(value)); }
void TXmlNode::WriteFloatAttr(std::string_view name, double value) {
    SetAttr(nameTable_->IdOfName(name), TaggedValue::Float64(value));
}

int32_t TXmlNode::ReadHexAttrById(int32_t index, int32_t defaultValue) {
    const TXmlAttrData* a = FindAttr(index);
    if (!a) return defaultValue;
    std::string text(1, '$');
    text += ValueAsText(a->Value);
    // "$" and one to eight hexadecimal digits, nothing else.
    uint32_t v = 0;
    bool ok = text.size() >= 2 && text.size() <= 9;
    for (size_t i = 1; ok && i < text.size(); ++i) {
        const int digit = HexDigitValue(static_cast<unsigned char>(text[i]));
        if (digit < 0) ok = false;
        else v = v * 16 + static_cast<uint32_t>(digit);
    }
    if (!ok) RaiseXmlError(Format1("'%s' is not a valid integer value", text));
    return static_cast<int32_t>(v);
}
int32_t TXmlNode::ReadHexAttr(std::string_view name, int32_t defaultValue) {
    return ReadHexAttrById(nameTable_->IdOfName(name), defaultValue);
}
void TXmlNode::WriteHexAttrById(int32_t index, int32_t value, int32_t digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", static_cast<uint32_t>(value));
    std::string text(buf);
    if (digits > static_cast<int32_t>(text.size())) text.insert(0, static_cast<size_t>(digits) - text.size(), '0');
    SetAttr(index, TaggedValue(std::move(text)));
}
void TXmlNode::WriteHexAttr(std::string_view name, int32_t value, int32_t digits) {
    WriteHexAttrById(nameTable_->IdOfName(name), value, digits);
}

int32_t TXmlNode::ChoiceOf(int32_t index, const TXmlAttrData& attr, const std::vector<std::string>& allowed) {
    const std::string t = ValueAsText(attr.Value);
    for (size_t i = 0; i < allowed.size(); ++i)
        if (platform::SameTextIgnoreCase(allowed[i], t)) return static_cast<int32_t>(i);
    std::string list;
    for (size_t i = 0; i < allowed.size(); ++i) {
        if (i) list += "\r\n";
        list += allowed[i];
    }
    std::string message = Format1("Неверное значение атрибута \"%s\" элемента ", nameTable_->NameRef(index));
    message += Format1("\"%s\".\r\nДопустимые значения:\r\n", NameString());
    message += list;
    RaiseXmlError(message);
}

int32_t TXmlNode::ReadChoiceAttrById(int32_t index, const std::vector<std::string>& allowed, int32_t defaultValue) {
    const TXmlAttrData* a = FindAttr(index);
    return a ? ChoiceOf(index, *a, allowed) : defaultValue;
}
int32_t TXmlNode::ReadChoiceAttr(std::string_view name, const std::vector<std::string>& allowed,
                                 int32_t defaultValue) {
    return ReadChoiceAttrById(nameTable_->IdOfName(name), allowed, defaultValue);
}
int32_t TXmlNode::RequireChoiceAttrById(int32_t index, const std::vector<std::string>& allowed) {
    const TXmlAttrData* a = FindAttr(index);
    if (!a) RaiseXmlError(Format1("Не найден атрибут \"%s\"", nameTable_->NameRef(index)));
    return ChoiceOf(index, *a, allowed);
}
int32_t TXmlNode::RequireChoiceAttr(std::string_view name, const std::vector<std::string>& allowed) {
    return RequireChoiceAttrById(nameTable_->IdOfName(name), allowed);
}

// ---- children -------------------------------------------------------------------------------

TXmlNode* TXmlNode::FirstChildById(int32_t index) const {
    if (!children_) return nullptr;
    for (int32_t i = 0; i < children_->Count(); ++i)
        if (children_->Item(i)->NameId() == index) return children_->Item(i);
    return nullptr;
}

void TXmlNode::AppendChildNode(const XmlRef<IXmlNode>& node) { ChildListObject().Insert(ImplNode(node.get())); }

void TXmlNode::InsertChildBefore(const XmlRef<IXmlNode>& node, const XmlRef<IXmlNode>& before) {
    TXmlNodeList& list = ChildListObject();
    const int32_t position = before ? list.IndexOf(ImplNode(before.get())) : -1;
    list.Insert(ImplNode(node.get()), position);
}

void TXmlNode::ReplaceChildNode(const XmlRef<IXmlNode>& newNode, const XmlRef<IXmlNode>& oldNode) {
    TXmlNodeList& list = ChildListObject();
    const int32_t position = list.IndexOf(ImplNode(oldNode.get()));
    if (position >= 0) list.Replace(position, ImplNode(newNode.get()));
}

int32_t TXmlNode::RemoveChildNode(const XmlRef<IXmlNode>& node) {
    return ChildListObject().Remove(ImplNode(node.get()));
}

XmlRef<IXmlElement> TXmlNode::AppendChildElementById(int32_t index) {
    if (index < 0 || index >= nameTable_->NameCount()) NameIndexError();
    return static_cast<IXmlElement*>(&AppendElementNode(ChildListObject(), *nameTable_, index));
}

XmlRef<IXmlElement> TXmlNode::AppendChildElement(std::string_view name) {
    return AppendChildElementById(nameTable_->IdOfName(name));
}

XmlRef<IXmlNode> TXmlNode::AppendTextNode(std::string text) {
    return static_cast<IXmlNode*>(&xml::AppendTextNode(ChildListObject(), *nameTable_, std::move(text)));
}

XmlRef<IXmlNode> TXmlNode::AppendCDATANode(std::string text) {
    return static_cast<IXmlNode*>(&xml::AppendCDATANode(ChildListObject(), *nameTable_, std::move(text)));
}

XmlRef<IXmlNode> TXmlNode::AppendCommentNode(std::string text) {
    return static_cast<IXmlNode*>(&xml::AppendCommentNode(ChildListObject(), *nameTable_, std::move(text)));
}

XmlRef<IXmlNode> TXmlNode::AppendInstructionById(int32_t targetIndex, std::string data) {
    if (targetIndex < 0 || targetIndex >= nameTable_->NameCount()) NameIndexError();
    return static_cast<IXmlNode*>(
        &xml::AppendInstructionNode(ChildListObject(), *nameTable_, targetIndex, std::move(data)));
}

XmlRef<IXmlNode> TXmlNode::AppendInstruction(std::string_view target, std::string data) {
    return AppendInstructionById(nameTable_->IdOfName(target), std::move(data));
}

std::string TXmlNode::ReadChildTextById(int32_t index, std::string_view defaultText) {
    TXmlNode* child = FirstChildById(index);
    return child ? child->ReadText() : std::string(defaultText);
}
std::string TXmlNode::ReadChildText(std::string_view name, std::string_view defaultText) {
    return ReadChildTextById(nameTable_->IdOfName(name), defaultText);
}

void TXmlNode::WriteChildTextById(int32_t index, std::string text) {
    TXmlNode* child = FirstChildById(index);
    if (!child) child = ImplNode(AppendChildElementById(index).get());
    child->WriteText(std::move(text));
}
void TXmlNode::WriteChildText(std::string_view name, std::string text) {
    WriteChildTextById(nameTable_->IdOfName(name), std::move(text));
}

XmlRef<IXmlNode> TXmlNode::RequireChildById(int32_t index) {
    TXmlNode* child = FirstChildById(index);
    if (!child) RaiseXmlError(Format1("Ошибка: не найден дочерний элемент \"%s\".", nameTable_->NameRef(index)));
    return static_cast<IXmlNode*>(child);
}
XmlRef<IXmlNode> TXmlNode::RequireChild(std::string_view name) { return RequireChildById(nameTable_->IdOfName(name)); }

XmlRef<IXmlNode> TXmlNode::ObtainChildById(int32_t index) {
    if (TXmlNode* child = FirstChildById(index)) return static_cast<IXmlNode*>(child);
    return AppendChildElementById(index);
}
XmlRef<IXmlNode> TXmlNode::ObtainChild(std::string_view name) { return ObtainChildById(nameTable_->IdOfName(name)); }

void TXmlNode::ClearChildren() {
    if (children_) children_->Clear();
}

XmlRef<IXmlNodeCollection> TXmlNode::FindChildElements(std::string_view name) {
    if (!IsSimpleName(name)) RaiseXmlError(NotSupportedMessage);
    const int32_t id = nameTable_->IdOfName(name);
    TXmlNodeList& children = ChildListObject();
    XmlRef<TXmlNodeList> found = MakeXml<TXmlNodeList>(nullptr);
    for (int32_t i = 0; i < children.Count(); ++i) {
        TXmlNode* child = children.Item(i);
        if (child->Kind() == xnkElement && child->NameId() == id) found->AppendNew(child);
    }
    return found;
}

XmlRef<IXmlNode> TXmlNode::FindChildElement(std::string_view name) {
    if (!IsSimpleName(name)) RaiseXmlError(NotSupportedMessage);
    const int32_t id = nameTable_->IdOfName(name);
    TXmlNodeList& children = ChildListObject();
    for (int32_t i = 0; i < children.Count(); ++i) {
        TXmlNode* child = children.Item(i);
        if (child->Kind() == xnkElement && child->NameId() == id) return static_cast<IXmlNode*>(child);
    }
    return nullptr;
}

XmlRef<IXmlElement> TXmlNode::FindChildElementByAttr(std::string_view elementName, std::string_view attrName,
                                                     const TaggedValue& value) {
    const int32_t elementId = nameTable_->IdOfName(elementName);
    const int32_t attrId = nameTable_->IdOfName(attrName);
    if (!children_) return nullptr;
    for (int32_t i = 0; i < children_->Count(); ++i) {
        TXmlNode* child = children_->Item(i);
        if (child->Kind() != xnkElement || child->NameId() != elementId) continue;
        const TXmlAttrData* a = child->FindAttr(attrId);
        if (!a) continue;
        try {
            if (SameValue(a->Value, value)) return child->ToElement();
        } catch (const TXmlError&) {
            // not comparable: not equal
        }
    }
    return nullptr;
}

// ---- path values ----------------------------------------------------------------------------

TaggedValue TXmlNode::ReadPathValue(std::string_view path) {
    if (path.empty()) return ReadValue();
    if (path[0] == '@') return ReadVarAttr(path.substr(1), TaggedValue(std::string()));
    const XmlRef<IXmlNode> child = FindChildElement(path);
    return child ? child->ReadValue() : TaggedValue(std::string());
}

void TXmlNode::WritePathValue(std::string_view path, const TaggedValue& value) {
    if (path.empty()) return WriteValue(value);
    if (path[0] == '@') return WriteVarAttr(path.substr(1), value);
    XmlRef<IXmlNode> child = FindChildElement(path);
    if (!child) child = AppendChildElement(path);
    child->WriteValue(value);
}

// ---- text of a node -------------------------------------------------------------------------

namespace {

std::string TrimmedCharacterData(const std::string& text, bool preserve) {
    if (preserve) return text;
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 0x20) ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 0x20) --e;
    return text.substr(b, e - b);
}

// The text of a node's elements, text nodes and CDATA sections, the non-empty ones joined by
// one blank, down to any depth.
std::string JoinedText(TXmlNode& top, bool preserve) {
    struct JoinVisitor {
        struct Level {
            bool hasPiece;
            size_t separatorAt;  // where this element's separator went in the parent's text
            size_t start;
        };
        std::string out;
        bool preserve;

        void AddPiece(Level& level, const std::string& piece) {
            if (piece.empty()) return;
            if (level.hasPiece) out += ' ';
            out += piece;
            level.hasPiece = true;
        }
        bool Enter(TXmlNode& node, Level* parent, Level& level) {
            if (!parent) return true;
            switch (node.Kind()) {
            case xnkElement:
                if (node.HasChildNodes()) {
                    level.separatorAt = out.size();
                    if (parent->hasPiece) out += ' ';
                    level.start = out.size();
                    return true;
                }
                if (const TaggedValue& direct = static_cast<TXmlElement&>(node).DirectValue; !direct.IsEmpty())
                    AddPiece(*parent, ValueToXmlText(direct));
                return false;
            case xnkText: AddPiece(*parent, ValueToXmlText(static_cast<TXmlText&>(node).Value)); return false;
            case xnkCDATA:
                AddPiece(*parent, TrimmedCharacterData(static_cast<TXmlCDATASection&>(node).Text, preserve));
                return false;
            default: return false;
            }
        }
        void Leave(TXmlNode&, Level& level, Level* parent) {
            if (!parent) return;
            if (out.size() == level.start) out.resize(level.separatorAt);  // the element had no text
            else parent->hasPiece = true;
        }
    } visitor{{}, preserve};
    WalkTree(top, visitor);
    return std::move(visitor.out);
}

}  // namespace

std::string TXmlCharacterData::ReadText() { return TrimmedCharacterData(Text, PreservesWhiteSpace()); }

// ---- node classes ---------------------------------------------------------------------------

TXmlElement::TXmlElement(XmlRef<TXmlNameTable> table, int32_t nameId)
    : TXmlNode(std::move(table), xnkElement), nameId_(nameId) {}

std::string TXmlElement::ReadText() {
    if (HasChildNodes()) return JoinedText(*this, PreservesWhiteSpace());
    return DirectValue.IsEmpty() ? std::string() : ValueToXmlText(DirectValue);
}

void TXmlElement::WriteText(std::string text) {
    ClearChildren();
    DirectValue = TaggedValue(std::move(text));
}

uint16_t TXmlElement::ValueKind() {
    if (HasChildNodes() || DirectValue.IsEmpty()) return TaggedValue::vkText;
    return DirectValue.KindCode();
}

TaggedValue TXmlElement::ReadValue() {
    if (HasChildNodes()) return TaggedValue(ReadText());
    return DirectValue;
}

void TXmlElement::WriteValue(const TaggedValue& value) {
    ClearChildren();
    DirectValue = value;
}

namespace {

XmlRef<TXmlNode> ShallowCopy(const TXmlNode& node) {
    const XmlRef<TXmlNameTable>& table = node.TableRef();
    XmlRef<TXmlNode> copy;
    switch (node.Kind()) {
    case xnkElement: copy = MakeXml<TXmlElement>(table, static_cast<const TXmlElement&>(node).NameIndex()); break;
    case xnkText: copy = MakeXml<TXmlText>(table, static_cast<const TXmlText&>(node).Value); break;
    case xnkCDATA: copy = MakeXml<TXmlCDATASection>(table, static_cast<const TXmlCDATASection&>(node).Text); break;
    case xnkComment: copy = MakeXml<TXmlComment>(table, static_cast<const TXmlComment&>(node).Text); break;
    case xnkInstruction: {
        const auto& pi = static_cast<const TXmlProcessingInstruction&>(node);
        copy = MakeXml<TXmlProcessingInstruction>(table, pi.Data, pi.TargetIndex());
        break;
    }
    case xnkDocument: copy = MakeXml<TXmlDocument>(table); break;
    default: RaiseXmlError(NotSupportedMessage);
    }
    // Attributes travel with elements and instructions (a declaration keeps its version and
    // encoding); a document's own attributes stay behind.
    if (node.Kind() != xnkDocument) {
        copy->ReserveAttrs(static_cast<int32_t>(node.Attrs().size()));
        for (const TXmlAttrData& a : node.Attrs()) copy->AppendAttrUnchecked(a.NameId, a.Value);
    }
    return copy;
}

// A deep copy; an element keeps its DirectValue, so a copy reads the same as the original.
struct CopyVisitor {
    using Level = TXmlNode*;  // the copy of the node
    XmlRef<TXmlNode> root;

    bool Enter(const TXmlNode& node, TXmlNode** parent, TXmlNode*& copy) {
        XmlRef<TXmlNode> made = ShallowCopy(node);
        copy = made.get();
        if (parent) (*parent)->ChildListObject().AppendNew(std::move(made));
        else root = std::move(made);
        if (node.Kind() == xnkElement)
            static_cast<TXmlElement*>(copy)->DirectValue = static_cast<const TXmlElement&>(node).DirectValue;
        if (!node.HasChildNodes()) return false;
        copy->ChildListObject().Reserve(node.Children()->Count());
        return true;
    }
    void Leave(const TXmlNode&, TXmlNode*&, TXmlNode**) {}
};

XmlRef<IXmlNode> DeepCopy(const TXmlNode& top) {
    CopyVisitor copy;
    WalkTree(top, copy);
    return static_cast<IXmlNode*>(copy.root.get());
}

}  // namespace

XmlRef<IXmlNode> TXmlNode::Duplicate(bool deep) {
    if (deep && (Kind() == xnkElement || Kind() == xnkDocument)) return DeepCopy(*this);
    return static_cast<IXmlNode*>(ShallowCopy(*this).get());
}

void TXmlElement::RemoveTextChildren() {
    TXmlNodeList* children = Children();
    if (!children) return;
    for (int32_t i = children->Count() - 1; i >= 0; --i) {
        const int32_t kind = children->Item(i)->Kind();
        if (kind == xnkText || kind == xnkCDATA) children->Delete(i);
    }
}

void TXmlElement::ReplaceTextWithCDATA(std::string_view text) {
    RemoveTextChildren();
    TXmlNodeList& list = ChildListObject();
    for (size_t q; (q = text.find("]]>")) != std::string_view::npos; text.remove_prefix(q + 1))
        xml::AppendCDATANode(list, Table(), std::string(text.substr(0, q + 1)));
    xml::AppendCDATANode(list, Table(), std::string(text));
}

void TXmlElement::ReplaceTextWithBase64(const void* bytes, int32_t count, int32_t lineLength) {
    RemoveTextChildren();
    xml::AppendTextNode(ChildListObject(), Table(), BytesToBase64(bytes, count, lineLength));
}

std::string TXmlElement::ReadBase64Text() { return Base64ToBytes(ReadText()); }

TXmlText::TXmlText(XmlRef<TXmlNameTable> table, TaggedValue value)
    : TXmlNode(std::move(table), xnkText), Value(std::move(value)) {}

TXmlCharacterData::TXmlCharacterData(XmlRef<TXmlNameTable> table, std::string text, XmlNodeKind kind)
    : TXmlNode(std::move(table), kind), Text(std::move(text)) {}

TXmlCDATASection::TXmlCDATASection(XmlRef<TXmlNameTable> table, std::string text)
    : TXmlCharacterData(std::move(table), std::move(text), xnkCDATA) {}

TXmlComment::TXmlComment(XmlRef<TXmlNameTable> table, std::string text)
    : TXmlCharacterData(std::move(table), std::move(text), xnkComment) {}

TXmlProcessingInstruction::TXmlProcessingInstruction(XmlRef<TXmlNameTable> table, std::string data, int32_t targetId)
    : TXmlNode(std::move(table), xnkInstruction), Data(std::move(data)), targetId_(targetId) {}

TXmlDocument::TXmlDocument(XmlRef<TXmlNameTable> table) : TXmlNode(std::move(table), xnkDocument) {}

std::string TXmlDocument::ReadText() { return HasChildNodes() ? JoinedText(*this, PreserveWhiteSpace) : std::string(); }

void TXmlDocument::WriteText(std::string text) {
    ClearChildren();
    xml::AppendTextNode(ChildListObject(), Table(), std::move(text));
}

}  // namespace xml
