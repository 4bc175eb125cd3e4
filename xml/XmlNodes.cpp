// The node classes and the node operations offered through IXmlNode and IXmlElement, apart
// from attributes (XmlAttributes.cpp): children, path values, text, copies.
#include "platform/CodePage.h"
#include "xml/XmlInternal.h"

namespace xml {

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

void NameIndexError() { RaiseXmlError("Ошибка получения имени: индекс выходит за пределы"); }

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

// ---- TXmlNode: basics -----------------------------------------------------------------------


TXmlNode::~TXmlNode() {
    // A list that a caller still holds must not reach this node any more.
    if (children_) children_->DetachOwner();
}

TXmlNodeList& TXmlNode::ChildListObject() {
    if (!children_) children_ = MakeXml<TXmlNodeList>(this);
    return *children_;
}

TXmlNodeList& TXmlNode::ChildListIn(TXmlArena* arena) {
    if (!children_) children_ = MakeXmlIn<TXmlNodeList>(arena, this);
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
            if (SameValue(a->Value.ToTagged(), value)) return child->ToElement();
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

std::string TrimmedCharacterData(std::string_view text, bool preserve) {
    if (preserve) return std::string(text);
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 0x20) ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 0x20) --e;
    return std::string(text.substr(b, e - b));
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
                if (const TaggedValue& direct = static_cast<TXmlElement&>(node).DirectValue(); !direct.IsEmpty())
                    AddPiece(*parent, ValueToXmlText(direct));
                return false;
            case xnkText: AddPiece(*parent, ValueToXmlText(static_cast<TXmlText&>(node).Value)); return false;
            case xnkCDATA:
                AddPiece(*parent, TrimmedCharacterData(static_cast<TXmlCDATASection&>(node).Text.TextView(), preserve));
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

std::string TXmlCharacterData::ReadText() { return TrimmedCharacterData(Text.TextView(), PreservesWhiteSpace()); }

// ---- node classes ---------------------------------------------------------------------------

TXmlElement::TXmlElement(XmlRef<TXmlNameTable> table, int32_t nameId)
    : TXmlNode(std::move(table), xnkElement) {
    nameId_ = nameId;
}

std::string TXmlElement::ReadText() {
    if (HasChildNodes()) return JoinedText(*this, PreservesWhiteSpace());
    return direct_ ? ValueToXmlText(*direct_) : std::string();
}

void TXmlElement::WriteText(std::string text) {
    ClearChildren();
    SetDirectValue(TaggedValue(std::move(text)));
}

uint16_t TXmlElement::ValueKind() {
    if (HasChildNodes() || !direct_) return TaggedValue::vkText;
    return direct_->KindCode();
}

TaggedValue TXmlElement::ReadValue() {
    if (HasChildNodes()) return TaggedValue(ReadText());
    return DirectValue();
}

void TXmlElement::WriteValue(const TaggedValue& value) {
    ClearChildren();
    SetDirectValue(value);
}

const TaggedValue& TXmlElement::DirectValue() const {
    static const TaggedValue none;
    return direct_ ? *direct_ : none;
}

void TXmlElement::SetDirectValue(TaggedValue value) {
    if (value.IsEmpty()) direct_.reset();
    else if (direct_) *direct_ = std::move(value);
    else direct_ = std::make_unique<TaggedValue>(std::move(value));
}

namespace {

XmlRef<TXmlNode> ShallowCopy(const TXmlNode& node, TXmlArena* arena = nullptr, TTableShares* shares = nullptr) {
    XmlRef<TXmlNameTable> table = shares && shares->Of(node.Table()) ? shares->Take() : node.TableRef();
    XmlRef<TXmlNode> copy;
    switch (node.Kind()) {
    case xnkElement: copy = MakeXmlIn<TXmlElement>(arena, std::move(table), static_cast<const TXmlElement&>(node).NameIndex()); break;
    case xnkText: {
        const TXmlValue& value = static_cast<const TXmlText&>(node).Value;
        if (value.IsText()) copy = MakeXmlWithText<TXmlText>(arena, std::move(table), value.TextView());
        else copy = MakeXmlIn<TXmlText>(arena, std::move(table), value.Copy(arena));
        break;
    }
    case xnkCDATA: copy = MakeXmlWithText<TXmlCDATASection>(arena, std::move(table), static_cast<const TXmlCDATASection&>(node).Text.TextView()); break;
    case xnkComment: copy = MakeXmlWithText<TXmlComment>(arena, std::move(table), static_cast<const TXmlComment&>(node).Text.TextView()); break;
    case xnkInstruction: {
        const auto& pi = static_cast<const TXmlProcessingInstruction&>(node);
        copy = MakeXmlIn<TXmlProcessingInstruction>(arena, std::move(table), pi.Data, pi.TargetIndex());
        break;
    }
    case xnkDocument: copy = MakeXmlIn<TXmlDocument>(arena, std::move(table)); break;
    default: RaiseXmlError(NotSupportedMessage);
    }
    // Attributes travel with elements and instructions (a declaration keeps its version and
    // encoding); a document's own attributes stay behind.
    if (node.Kind() != xnkDocument) {
        copy->ReserveAttrs(static_cast<int32_t>(node.Attrs().size()), arena);
        for (const TXmlAttrData& a : node.Attrs()) copy->AppendAttrUnchecked(a.NameId, a.Value.Copy(arena), arena);
    }
    return copy;
}

// A deep copy; an element keeps its DirectValue, so a copy reads the same as the original.
// The copies are built on pages of their own, which they alone keep.
struct CopyVisitor {
    using Level = TXmlNode*;  // the copy of the node
    explicit CopyVisitor(TXmlNameTable& table) : shares(table) {}
    XmlRef<TXmlNode> root;
    TXmlArena arena;
    TTableShares shares;

    bool Enter(const TXmlNode& node, TXmlNode** parent, TXmlNode*& copy) {
        XmlRef<TXmlNode> made = ShallowCopy(node, &arena, &shares);
        copy = made.get();
        if (parent) (*parent)->ChildListIn(&arena).AppendNew(std::move(made), &arena);
        else root = std::move(made);
        if (node.Kind() == xnkElement)
            static_cast<TXmlElement*>(copy)->SetDirectValue(static_cast<const TXmlElement&>(node).DirectValue());
        if (!node.HasChildNodes()) return false;
        copy->ChildListIn(&arena).Reserve(node.Children()->Count(), &arena);
        return true;
    }
    void Leave(const TXmlNode&, TXmlNode*&, TXmlNode**) {}
};

XmlRef<IXmlNode> DeepCopy(const TXmlNode& top) {
    CopyVisitor copy(top.Table());
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
    : TXmlText(std::move(table), TXmlValue::Of(std::move(value))) {}

TXmlText::TXmlText(XmlRef<TXmlNameTable> table, TXmlValue value)
    : TXmlNode(std::move(table), xnkText), Value(std::move(value)) {}

TXmlCharacterData::TXmlCharacterData(XmlRef<TXmlNameTable> table, TXmlValue text, XmlNodeKind kind)
    : TXmlNode(std::move(table), kind), Text(std::move(text)) {}

TXmlCDATASection::TXmlCDATASection(XmlRef<TXmlNameTable> table, std::string_view text)
    : TXmlCDATASection(std::move(table), TXmlValue::Text(text)) {}

TXmlCDATASection::TXmlCDATASection(XmlRef<TXmlNameTable> table, TXmlValue text)
    : TXmlCharacterData(std::move(table), std::move(text), xnkCDATA) {}

TXmlComment::TXmlComment(XmlRef<TXmlNameTable> table, std::string_view text)
    : TXmlComment(std::move(table), TXmlValue::Text(text)) {}

TXmlComment::TXmlComment(XmlRef<TXmlNameTable> table, TXmlValue text)
    : TXmlCharacterData(std::move(table), std::move(text), xnkComment) {}

TXmlProcessingInstruction::TXmlProcessingInstruction(XmlRef<TXmlNameTable> table, std::string data, int32_t targetId)
    : TXmlNode(std::move(table), xnkInstruction), Data(std::move(data)) {
    nameId_ = targetId;
}

TXmlDocument::TXmlDocument(XmlRef<TXmlNameTable> table) : TXmlNode(std::move(table), xnkDocument) {}

std::string TXmlDocument::ReadText() { return HasChildNodes() ? JoinedText(*this, PreserveWhiteSpace) : std::string(); }

void TXmlDocument::WriteText(std::string text) {
    ClearChildren();
    xml::AppendTextNode(ChildListObject(), Table(), std::move(text));
}

}  // namespace xml
