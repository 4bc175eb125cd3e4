// Values: the fixed XML forms, the general conversions and the typed attribute operations.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "platform/CodePage.h"
#include "tests/xml/XmlTestSupport.h"
#include "xml/XmlInternal.h"

using namespace xml;
using xmltest::ErrorOf;

namespace {

// Runs a check under both decimal separators; the library's own forms must not change.
void UnderBothSeparators(const std::function<void()>& check) {
    for (char sep : {'.', ','}) {
        SCOPED_TRACE(std::string("separator ") + sep);
        platform::OverrideDecimalSeparator(sep);
        check();
    }
    platform::OverrideDecimalSeparator(0);
}

struct Element : ::testing::Test {
    XmlRef<IXmlDocument> doc = NewXmlDocument({}, "1.0", {}, NewXmlNameTable());
    XmlRef<IXmlElement> e = doc->AppendChildElement("e");
    std::string Markup() {
        doc->SetPreserveWhiteSpace(true);
        return e->MarkupText();
    }
};

}  // namespace

TEST(ValueToXmlText, EveryKind) {
    struct Case {
        TaggedValue value;
        const char* text;
    } cases[] = {
        {TaggedValue(), ""},
        {TaggedValue::Null(), "{{null}}"},
        {TaggedValue::Int16(-32768), "-32768"},
        {TaggedValue::Int32(-7), "-7"},
        {TaggedValue::Int8(-128), "-128"},
        {TaggedValue::UInt8(255), "255"},
        {TaggedValue::UInt16(65535), "65535"},
        {TaggedValue::UInt32(4294967295u), "4294967295"},
        {TaggedValue::Int64(-9223372036854775807LL - 1), "-9223372036854775808"},
        {TaggedValue::Float32(0.5f), "0.5"},
        {TaggedValue::Float64(1.5), "1.5"},
        {TaggedValue::Float64(100), "100"},
        {TaggedValue::Float64(0.1), "0.1"},
        {TaggedValue::Float64(-2.25), "-2.25"},
        {TaggedValue::Float64(1e20), "1E20"},
        {TaggedValue::Float64(1.5e-7), "1.5E-7"},
        {TaggedValue::Float64(1.0 / 3), "0.333333333333333"},
        {TaggedValue::Currency(15000), "1.5"},
        {TaggedValue::Currency(-1), "-0.0001"},
        {TaggedValue::DateTime(EncodeDateTime(2024, 3, 5, 14, 7, 9, 500)), "2024-03-05T14-07-09"},
        {TaggedValue::WideText(u"abc"), "abc"},
        {TaggedValue::Boolean(true), "1"},
        {TaggedValue::Boolean(false), "0"},
        {TaggedValue("text"), "text"},
        {TaggedValue::Bytes({'a', 'b', 'c', 'd'}), "YWJjZA=="},
    };
    UnderBothSeparators([&] {
        for (const Case& c : cases) EXPECT_EQ(ValueToXmlText(c.value), c.text) << c.text;
    });
}

TEST(ValueToXmlText, WideTextGoesThroughTheCodePage) {
    if (platform::AnsiToWide("\xC0") != u"\u0410") GTEST_SKIP() << "the ANSI code page is not windows-1251";
    EXPECT_EQ(ValueToXmlText(TaggedValue::WideText(u"Привет")), "Привет");
    EXPECT_EQ(platform::AnsiToWide("Ёж"), u"Ёж");
}

TEST(XmlForms, FloatTextReadsEitherSeparator) {
    UnderBothSeparators([] {
        EXPECT_EQ(XmlTextToFloat("1.5"), 1.5);
        EXPECT_EQ(XmlTextToFloat("2,25"), 2.25);
        EXPECT_EQ(XmlTextToFloat("-3"), -3);
        EXPECT_EQ(XmlTextToFloat(" 1E3 "), 1000);
        EXPECT_EQ(FloatToXmlText(1.5), "1.5");
    });
    platform::OverrideDecimalSeparator('.');
    EXPECT_EQ(ErrorOf([] { XmlTextToFloat("1,234.5"); }), "'1.234.5' is not a valid floating point value");
    EXPECT_EQ(ErrorOf([] { XmlTextToFloat("abc"); }), "'abc' is not a valid floating point value");
    platform::OverrideDecimalSeparator(0);
}

TEST(XmlForms, DateTimeText) {
    const TDateTime d = EncodeDateTime(2024, 3, 5, 14, 7, 9, 500);
    EXPECT_EQ(DateTimeToXmlText(d), "2024-03-05T14-07-09");
    EXPECT_EQ(DateTimeToXmlText(0), "1899-12-30T00-00-00");
    EXPECT_EQ(DateTimeToXmlText(-1.25), "1899-12-29T06-00-00");
    EXPECT_DOUBLE_EQ(XmlTextToDateTime("2024-03-05T14-07-09"), EncodeDateTime(2024, 3, 5, 14, 7, 9));
    EXPECT_DOUBLE_EQ(XmlTextToDateTime("2024-03-05"), EncodeDateTime(2024, 3, 5));
    EXPECT_DOUBLE_EQ(XmlTextToDateTime("2024-03-05 14:07"), EncodeDateTime(2024, 3, 5));
    EXPECT_DOUBLE_EQ(XmlTextToDateTime("2000-02-29T23-59-59"), EncodeDateTime(2000, 2, 29, 23, 59, 59));
    for (const char* bad : {"", "2024-13-01", "2023-02-29", "2024-03-05T24-00-00", "2024"})
        EXPECT_EQ(ErrorOf([&] { XmlTextToDateTime(bad); }), std::string("''") + bad + "'' is not a valid date and time");
    const TDateTimeParts p = DecodeDateTime(d);
    EXPECT_EQ(p.millisecond, 500);
    EXPECT_EQ(p.second, 9);
}

TEST(XmlForms, Base64) {
    EXPECT_EQ(BytesToBase64("abc", 3, 0), "YWJj");
    EXPECT_EQ(BytesToBase64("ab", 2, 0), "YWI=");
    EXPECT_EQ(BytesToBase64("a", 1, 0), "YQ==");
    EXPECT_EQ(BytesToBase64("", 0, 0), "");
    EXPECT_EQ(BytesToBase64("abcdef", 6, 4), "YWJj\r\nZGVm");
    EXPECT_EQ(BytesToBase64("abcdef", 6, 8), "YWJjZGVm");
    EXPECT_EQ(BytesToBase64("abcdefg", 7, 4), "YWJj\r\nZGVm\r\nZw==");
    EXPECT_EQ(Base64ToBytes("YW Jj\r\n"), "abc");
    EXPECT_EQ(Base64ToBytes("YQ=="), "a");
    EXPECT_EQ(Base64ToBytes("YWI="), "ab");
    EXPECT_EQ(Base64ToBytes("YQ"), "");
    EXPECT_EQ(Base64ToBytes("YWJj\r\nZGVm\r\nZw=="), "abcdefg");
    EXPECT_EQ(Base64ToBytes("YWJjZ"), std::string("abc\x64\0\0", 6));  // a short group reads as zeros
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(Base64ToBytes(BytesToBase64(all.data(), 256, 76)), all);
}

TEST(GeneralConversions, Texts) {
    platform::OverrideDecimalSeparator(',');
    EXPECT_EQ(ValueAsText(TaggedValue::Float64(1.5)), "1,5");
    EXPECT_EQ(ValueAsText(TaggedValue::Currency(25000)), "2,5");
    platform::OverrideDecimalSeparator('.');
    EXPECT_EQ(ValueAsText(TaggedValue::Float64(1.5)), "1.5");
    platform::OverrideDecimalSeparator(0);
    EXPECT_EQ(ValueAsText(TaggedValue()), "");
    EXPECT_EQ(ValueAsText(TaggedValue::Boolean(true)), "True");
    EXPECT_EQ(ValueAsText(TaggedValue::Boolean(false)), "False");
    EXPECT_EQ(ValueAsText(TaggedValue::UInt32(4000000000u)), "4000000000");
    EXPECT_EQ(ValueAsText(TaggedValue::DateTime(EncodeDateTime(2024, 3, 5, 14, 7, 9))), "2024-03-05 14:07:09");
    EXPECT_EQ(ValueAsText(TaggedValue::DateTime(EncodeDateTime(2024, 3, 5))), "2024-03-05");
    EXPECT_EQ(ErrorOf([] { ValueAsText(TaggedValue::Null()); }),
              "Could not convert variant of type (Null) into type (String)");
}

TEST(GeneralConversions, Int32) {
    struct Case {
        TaggedValue value;
        int32_t expected;
    } cases[] = {
        {TaggedValue("42"), 42},     {TaggedValue(" -42 "), -42},  {TaggedValue("$1F"), 31},
        {TaggedValue("0x10"), 16},   {TaggedValue("true"), 1},     {TaggedValue("FALSE"), 0},
        {TaggedValue("$FFFFFFFF"), -1},
        {TaggedValue::Boolean(true), -1}, {TaggedValue(), 0},      {TaggedValue::Float64(-2.5), -2},
        {TaggedValue::UInt8(200), 200},   {TaggedValue::Currency(15000), 2},
    };
    for (const Case& c : cases) EXPECT_EQ(ValueAsInt32(c.value), c.expected) << ValueToXmlText(c.value);
    // A fraction in the locale's format rounds half to even.
    const std::string sep(1, platform::LocaleDecimalSeparator());
    EXPECT_EQ(ValueAsInt32(TaggedValue("2" + sep + "5")), 2);
    EXPECT_EQ(ValueAsInt32(TaggedValue("3" + sep + "5")), 4);
    for (const char* bad : {"", "abc", "1 2", "0x"})
        EXPECT_EQ(ErrorOf([&] { ValueAsInt32(TaggedValue(bad)); }),
                  "Could not convert variant of type (String) into type (Integer)")
            << bad;
    EXPECT_EQ(ErrorOf([] { ValueAsInt32(TaggedValue("3000000000")); }),
              "Overflow while converting variant of type (String) into type (Integer)");
    EXPECT_EQ(ErrorOf([] { ValueAsInt32(TaggedValue::Int64(1LL << 40)); }),
              "Overflow while converting variant of type (Int64) into type (Integer)");
    EXPECT_EQ(ErrorOf([] { ValueAsInt32(TaggedValue::Null()); }),
              "Could not convert variant of type (Null) into type (Integer)");
}

TEST(GeneralConversions, BooleanFloatAndSameValue) {
    for (const char* t : {"1", "TRUE", "true", "-1", "2"}) EXPECT_TRUE(ValueAsBoolean(TaggedValue(t))) << t;
    for (const char* t : {"0", "False", "false"}) EXPECT_FALSE(ValueAsBoolean(TaggedValue(t))) << t;
    // The locale's own words count too ("Правда" and "Ложь" on a Russian system).
    EXPECT_TRUE(ValueAsBoolean(TaggedValue(platform::LocaleTrueText())));
    EXPECT_FALSE(ValueAsBoolean(TaggedValue(platform::LocaleFalseText())));
    std::string upper = platform::LocaleTrueText();
    for (char& c : upper) c = platform::CharUpper(c);
    EXPECT_TRUE(ValueAsBoolean(TaggedValue(upper)));
    EXPECT_EQ(ValueAsInt32(TaggedValue(platform::LocaleFalseText())), 0);
    EXPECT_THROW(ValueAsBoolean(TaggedValue("yes")), TXmlError);
    EXPECT_THROW(ValueAsBoolean(TaggedValue("")), TXmlError);
    EXPECT_EQ(ValueAsFloat(TaggedValue::Boolean(true)), -1);
    EXPECT_EQ(ValueAsFloat(TaggedValue::Currency(12345)), 1.2345);

    EXPECT_TRUE(SameValue(TaggedValue(), TaggedValue()));
    EXPECT_FALSE(SameValue(TaggedValue(), TaggedValue("")));
    EXPECT_TRUE(SameValue(TaggedValue::Null(), TaggedValue::Null()));
    EXPECT_FALSE(SameValue(TaggedValue("a"), TaggedValue::Null()));
    EXPECT_TRUE(SameValue(TaggedValue("5"), TaggedValue::Int32(5)));
    EXPECT_TRUE(SameValue(TaggedValue::Int32(5), TaggedValue::Float64(5)));
    EXPECT_FALSE(SameValue(TaggedValue("a"), TaggedValue("A")));
    EXPECT_THROW(SameValue(TaggedValue("x"), TaggedValue::Int32(5)), TXmlError);
}

TEST_F(Element, IntAttributesRoundTrip) {
    e->WriteIntAttr("COM_Number", 1);
    e->WriteIntAttr("Neg", -7);
    EXPECT_EQ(Markup(), "<e COM_Number=\"1\" Neg=\"-7\"/>");
    EXPECT_EQ(e->ReadIntAttr("COM_Number", 5), 1);
    const int32_t before = e->AttributeCount();
    EXPECT_EQ(e->ReadIntAttr("Baud", 9600), 9600);
    EXPECT_EQ(e->AttributeCount(), before);  // reading adds no attribute
    for (int32_t v : {0, 1, -1, 2147483647, -2147483647 - 1}) {
        e->WriteIntAttr("v", v);
        EXPECT_EQ(e->ReadIntAttr("v", 0), v);
        e->WriteAttr("v", ValueToXmlText(e->ReadVarAttr("v", TaggedValue())));  // as after a reload
        EXPECT_EQ(e->ReadIntAttr("v", 0), v);
    }
    e->WriteAttr("t", "");
    EXPECT_THROW(e->ReadIntAttr("t", 3), TXmlError);
}

TEST_F(Element, BoolAttributes) {
    e->WriteBoolAttr("b", true);
    EXPECT_EQ(Markup(), "<e b=\"1\"/>");
    EXPECT_TRUE(e->ReadBoolAttr("b", false));
    EXPECT_EQ(e->ReadIntAttr("b", 0), -1);   // before a save: a boolean
    EXPECT_EQ(e->ReadAttr("b", ""), "True");  // the general text
    e->WriteAttr("b", "1");                   // as read back from the file
    EXPECT_EQ(e->ReadIntAttr("b", 0), 1);
    e->WriteAttr("c", "TRUE");
    EXPECT_TRUE(e->ReadBoolAttr("c", false));
    e->WriteAttr("c", "0");
    EXPECT_FALSE(e->ReadBoolAttr("c", true));
    EXPECT_TRUE(e->ReadBoolAttr("missing", true));
}

TEST_F(Element, FloatAndDateTimeAttributes) {
    UnderBothSeparators([&] {
        e->WriteFloatAttr("f", 1.5);
        EXPECT_EQ(Markup(), "<e f=\"1.5\"/>");
        EXPECT_EQ(e->ReadFloatAttr("f", 0), 1.5);
        e->WriteAttr("g", "2,25");
        EXPECT_EQ(e->ReadFloatAttr("g", 0), 2.25);
        e->DeleteAttr("g");
        e->DeleteAttr("f");
    });
    EXPECT_EQ(e->ReadFloatAttr("none", 7.5), 7.5);

    const TDateTime d = EncodeDateTime(2024, 3, 5, 14, 7, 9, 500);
    e->WriteDateTimeAttr("d", d);
    EXPECT_EQ(Markup(), "<e d=\"2024-03-05T14-07-09\"/>");
    EXPECT_EQ(e->ReadDateTimeAttr("d", 0), d);
    e->WriteAttr("d", ValueToXmlText(e->ReadVarAttr("d", TaggedValue())));
    EXPECT_DOUBLE_EQ(e->ReadDateTimeAttr("d", 0), EncodeDateTime(2024, 3, 5, 14, 7, 9));
    e->WriteAttr("d", "2024-13-01");
    EXPECT_THROW(e->ReadDateTimeAttr("d", 0), TXmlError);
}

TEST_F(Element, HexAttributes) {
    e->WriteHexAttr("a", 255, 4);
    e->WriteHexAttr("b", -1, 2);
    e->WriteHexAttr("c", 0x1ABC, 0);
    EXPECT_EQ(Markup(), "<e a=\"00FF\" b=\"FFFFFFFF\" c=\"1ABC\"/>");
    EXPECT_EQ(e->ReadHexAttr("b", 0), -1);
    e->WriteAttr("x", "ff");
    EXPECT_EQ(e->ReadHexAttr("x", 0), 255);
    EXPECT_EQ(e->ReadHexAttr("none", 9), 9);
    for (const char* bad : {"0x10", " 1", "1 ", "-1", "", "123456789", "g"}) {
        e->WriteAttr("x", bad);
        EXPECT_EQ(ErrorOf([&] { e->ReadHexAttr("x", 0); }), std::string("'$") + bad + "' is not a valid integer value");
    }
}

TEST_F(Element, ChoiceAttributes) {
    const std::vector<std::string> allowed = {"low", "High"};
    e->WriteAttr("level", "HIGH");
    EXPECT_EQ(e->ReadChoiceAttr("level", allowed, 7), 1);
    EXPECT_EQ(e->RequireChoiceAttr("level", allowed), 1);
    EXPECT_EQ(e->ReadChoiceAttr("absent", allowed, 7), 7);
    e->WriteAttr("level", "mid");
    EXPECT_EQ(ErrorOf([&] { e->ReadChoiceAttr("level", allowed, 7); }),
              "Неверное значение атрибута \"level\" элемента \"e\".\r\nДопустимые значения:\r\nlow\r\nHigh");
    EXPECT_EQ(ErrorOf([&] { e->RequireChoiceAttr("level", {}); }),
              "Неверное значение атрибута \"level\" элемента \"e\".\r\nДопустимые значения:\r\n");
    EXPECT_EQ(ErrorOf([&] { e->RequireChoiceAttr("absent", allowed); }), "Не найден атрибут \"absent\"");
    e->WriteAttr("ru", "ПРИВЕТ");
    EXPECT_EQ(e->ReadChoiceAttr("ru", {"да", "привет"}, -1), 1);  // Cyrillic case folding
}

TEST_F(Element, PlainAndVariantAttributes) {
    EXPECT_EQ(ErrorOf([&] { e->RequireAttr("cfg"); }), "Не задан атрибут \"cfg\"");
    EXPECT_EQ(e->ReadAttr("cfg", "dflt"), "dflt");
    e->WriteVarAttr("v", TaggedValue::Int64(5));
    EXPECT_EQ(e->AttrValueKind("v"), TaggedValue::vkInt64);
    EXPECT_EQ(e->AttrValueKind("none"), TaggedValue::vkText);
    EXPECT_EQ(e->ReadVarAttr("v", TaggedValue()), TaggedValue::Int64(5));
    EXPECT_EQ(e->ReadVarAttr("none", TaggedValue::Int32(1)), TaggedValue::Int32(1));
    EXPECT_EQ(e->RequireAttr("v"), "5");
    // By-name reads intern the name.
    TXmlNameTable& table = *ImplTable(e->NameTableRef().get());
    const int32_t names = table.NameCount();
    EXPECT_FALSE(e->HasAttr("never-seen"));
    EXPECT_EQ(table.NameCount(), names + 1);
    EXPECT_TRUE(e->HasAttrById(e->NameTableRef()->IdOfName("v")));
}
