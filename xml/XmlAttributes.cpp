// The attribute operations of every node: typed reads and writes, choices, hexadecimal values.
#include <cstdio>

#include "platform/CodePage.h"
#include "xml/XmlChars.h"
#include "xml/XmlInternal.h"

namespace xml {

namespace {
[[noreturn]] void AttrIndexError() { RaiseXmlError("Ошибка получения атрибута: индекс выходит за пределы"); }
}  // namespace

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

void TXmlNode::SetAttr(int32_t nameId, TaggedValue value) { SetAttr(nameId, TXmlValue::Of(std::move(value))); }

void TXmlNode::SetAttr(int32_t nameId, TXmlValue value) {
    if (TXmlAttrData* a = FindAttr(nameId)) {
        a->Value = std::move(value);
        return;
    }
    // An attribute needs a name of the table: an empty or unknown one could not be written.
    if (nameId < 0 || nameId >= nameTable_->NameCount()) RaiseXmlError("Некорректное имя атрибута");
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

void TXmlNode::ReserveAttrs(int32_t count, TXmlArena* arena) {
    if (count > 0) attrs_.reserve(static_cast<size_t>(count), arena);
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
    return a ? a->Value.ToTagged() : defaultValue;
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
void TXmlNode::WriteAttrById(int32_t index, std::string text) { SetAttr(index, TXmlValue::Text(text)); }
void TXmlNode::WriteAttr(std::string_view name, std::string text) {
    SetAttr(nameTable_->IdOfName(name), TXmlValue::Text(text));
}

bool TXmlNode::ReadBoolAttrById(int32_t index, bool defaultValue) {
    const TXmlAttrData* a = FindAttr(index);
    return a ? ValueAsBoolean(a->Value.ToTagged()) : defaultValue;
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
    return a ? ValueAsInt32(a->Value.ToTagged()) : defaultValue;
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
    return ValueAsDateTime(a->Value.ToTagged());
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
    if (IsNumericKind(a->Value.KindCode())) return ValueAsFloat(a->Value.ToTagged());
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
    SetAttr(index, TXmlValue::Text(text));
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

}  // namespace xml
