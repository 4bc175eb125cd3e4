// Name tables, node lists, attributes, moving nodes between tables, and trees too deep for
// any recursion.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/xml/XmlTestSupport.h"
#include "xml/XmlInternal.h"

using namespace xml;
using xmltest::ErrorOf;

namespace {

XmlRef<IXmlElement> NewElement(const char* name, XmlRef<IXmlNameDictionary> table = NewXmlNameTable()) {
    XmlRef<IXmlDocument> doc = NewXmlDocument({}, "1.0", {}, table);
    return doc->CreateElement(name);
}

// A numbered name (built by appending: GCC 12 warns falsely about "literal" + string).
std::string Numbered(const char* prefix, int i) {
    std::string s(prefix);
    s += std::to_string(i);
    return s;
}

}  // namespace

TEST(NameTable, StandardNamesComeFirstAndIndexesAreStable) {
    XmlRef<IXmlNameDictionary> t = NewXmlNameTable();
    const char* standard[] = {"#text", "#cdata-section", "#comment", "#document", "xml"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(t->IdOfName(standard[i]), i);
        EXPECT_EQ(t->NameOfId(i), standard[i]);
    }
    EXPECT_EQ(t->IdOfName("a"), 5);
    EXPECT_EQ(t->IdOfName("b"), 6);
    EXPECT_EQ(t->IdOfName("a"), 5);
    EXPECT_EQ(t->IdOfName("A"), 7);  // case-sensitive
    EXPECT_EQ(t->IdOfName(""), -1);
    EXPECT_EQ(t->NameOfId(-1), "");
    EXPECT_EQ(t->IdOfName("c"), 8);  // the empty name added nothing
    EXPECT_THROW(t->NameOfId(9), TXmlError);
}

TEST(NameTable, HashAndBucketsMatchTheStoredForm) {
    EXPECT_EQ(TXmlNameTable::HashName(""), 0u);
    EXPECT_EQ(TXmlNameTable::HashName("ab"), 97u * 33 + 98);
    // The bucket numbers the binary form stores for the standard names.
    EXPECT_EQ(TXmlNameTable::HashName("#text") % 4096, 808u);
    EXPECT_EQ(TXmlNameTable::HashName("#cdata-section") % 4096, 2754u);
    EXPECT_EQ(TXmlNameTable::HashName("xml") % 4096, 3313u);
    // Many names in a tiny table share buckets and still come back right.
    XmlRef<IXmlNameDictionary> t = NewXmlNameTable(1);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(t->IdOfName(Numbered("n", i)), 5 + i);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(t->IdOfName(Numbered("n", i)), 5 + i);
}

TEST(NameTable, DefaultTableIsSharedByDocuments) {
    XmlRef<IXmlDocument> a = NewXmlDocument();
    XmlRef<IXmlDocument> b = NewXmlDocument();
    EXPECT_EQ(a->NameTableRef(), DefaultNameTable());
    EXPECT_EQ(b->NameTableRef(), DefaultNameTable());
    EXPECT_EQ(DefaultNameTable()->IdOfName("#document"), 3);
}

TEST(NodeList, ItemAtChecksTheRange) {
    XmlRef<IXmlElement> e = NewElement("e");
    XmlRef<IXmlElement> c = e->AppendChildElement("c");
    XmlRef<IXmlNodeCollection> list = e->ChildList();
    ASSERT_EQ(list->ItemCount(), 1);
    EXPECT_EQ(list->ItemAt(0).get(), static_cast<IXmlNode*>(c.get()));
    const std::string message = "Ошибка получения элемента списка: индекс выходит за пределы";
    EXPECT_EQ(ErrorOf([&] { list->ItemAt(-1); }), message);
    EXPECT_EQ(ErrorOf([&] { list->ItemAt(1); }), message);
}

TEST(NodeList, InternalOperationsKeepParentsAndCheckPositions) {
    XmlRef<IXmlElement> e = NewElement("e");
    TXmlNode& owner = *ImplNode(e.get());
    TXmlNodeList& list = owner.ChildListObject();
    std::vector<XmlRef<TXmlNode>> nodes;
    for (int i = 0; i < 100; ++i) {  // through every growth step
        nodes.push_back(MakeXml<TXmlElement>(owner.TableRef(), 5));
        list.Insert(nodes.back(), i % 2 ? -1 : 0);
        EXPECT_EQ(nodes.back()->ParentNode(), &owner);
    }
    EXPECT_EQ(list.Count(), 100);
    EXPECT_EQ(list.IndexOf(nodes[98].get()), 0);
    EXPECT_EQ(list.IndexOf(nodes[99].get()), 99);

    EXPECT_EQ(list.Remove(nodes[98].get()), 0);
    EXPECT_EQ(nodes[98]->ParentNode(), nullptr);
    EXPECT_EQ(list.Remove(nodes[98].get()), -1);

    list.Replace(0, nodes[98]);
    EXPECT_EQ(nodes[98]->ParentNode(), &owner);
    EXPECT_EQ(nodes[96]->ParentNode(), nullptr);  // the one it replaced
    list.Replace(0, nodes[98]);                    // same node: nothing happens
    EXPECT_EQ(nodes[98]->ParentNode(), &owner);

    for (int bad : {-2, 100}) EXPECT_THROW(list.Insert(nodes[0], bad), TXmlError);
    for (int bad : {-1, 99}) {
        EXPECT_THROW(list.Delete(bad), TXmlError);
        EXPECT_THROW(list.Replace(bad, nodes[0]), TXmlError);
    }
    EXPECT_EQ(list.Count(), 99);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    for (auto& n : nodes) EXPECT_EQ(n->ParentNode(), nullptr);
}

TEST(NodeList, ANodeCannotContainItself) {
    XmlRef<IXmlElement> a = NewElement("a");
    XmlRef<IXmlElement> b = a->AppendChildElement("b");
    XmlRef<IXmlElement> c = b->AppendChildElement("c");
    EXPECT_THROW(a->AppendChildNode(a), TXmlError);
    EXPECT_THROW(c->AppendChildNode(a), TXmlError);
    EXPECT_THROW(a->AppendChildNode(nullptr), TXmlError);
    EXPECT_EQ(c->ChildList()->ItemCount(), 0);
}

TEST(NodeList, AChildListOutlivingItsOwnerIsFreeStanding) {
    XmlRef<IXmlNodeCollection> list;
    XmlRef<IXmlNode> child;
    {
        XmlRef<IXmlElement> e = NewElement("e");
        child = e->AppendChildElement("c");
        list = e->ChildList();
    }
    EXPECT_EQ(child->Parent(), nullptr);
    EXPECT_EQ(list->ItemCount(), 1);
    EXPECT_EQ(list->ItemAt(0), child);
}

TEST(NodeList, ANodeInTwoListsNamesTheSecondParent) {
    XmlRef<IXmlElement> p1 = NewElement("p1");
    XmlRef<IXmlElement> p2 = p1->AppendChildElement("p2");
    XmlRef<IXmlElement> n = p1->AppendChildElement("n");
    p2->AppendChildNode(n);
    EXPECT_EQ(p1->ChildList()->ItemCount(), 2);
    EXPECT_EQ(p2->ChildList()->ItemCount(), 1);
    EXPECT_EQ(n->Parent().get(), static_cast<IXmlNode*>(p2.get()));
}

TEST(Attributes, OrderSurvivesDeleteAndReplace) {
    XmlRef<IXmlElement> e = NewElement("e");
    e->WriteAttr("a", "1");
    e->WriteAttr("b", "2");
    e->WriteAttr("c", "3");
    e->WriteIntAttr("a", 10);  // in place
    e->DeleteAttr("b");
    e->DeleteAttr("never");  // absent: nothing
    ASSERT_EQ(e->AttributeCount(), 2);
    EXPECT_EQ(e->AttrNameAt(0), "a");
    EXPECT_EQ(e->AttrNameAt(1), "c");
    EXPECT_EQ(e->AttrValueKind("a"), TaggedValue::vkInt32);
    EXPECT_EQ(e->ReadAttr("c", ""), "3");
    for (int bad : {-1, 2}) {
        EXPECT_THROW(e->AttrNameAt(bad), TXmlError);
        EXPECT_THROW(e->AttrNameIdAt(bad), TXmlError);
    }
    for (int i = 0; i < 100; ++i) e->WriteIntAttr(Numbered("x", i), i);
    EXPECT_EQ(e->AttributeCount(), 102);
    EXPECT_EQ(e->ReadIntAttr("x99", -1), 99);
    e->ClearAttrs();
    EXPECT_EQ(e->AttributeCount(), 0);
}

TEST(Attributes, AnEmptyNameCannotBeWritten) {
    XmlRef<IXmlElement> e = NewElement("e");
    EXPECT_THROW(e->WriteAttr("", "v"), TXmlError);
    EXPECT_THROW(e->WritePathValue("@", TaggedValue("v")), TXmlError);
    EXPECT_EQ(e->AttributeCount(), 0);
}

TEST(RemapNames, AppendingIntoAnotherTableMovesEveryName) {
    XmlRef<IXmlNameDictionary> t1 = NewXmlNameTable();
    XmlRef<IXmlNameDictionary> t2 = NewXmlNameTable();
    t2->IdOfName("other");  // so that the indexes differ between the tables
    XmlRef<IXmlDocument> d1 = NewXmlDocument({}, "1.0", {}, t1);
    XmlRef<IXmlDocument> d2 = NewXmlDocument({}, "1.0", {}, t2);
    t1->IdOfName("unused");
    XmlRef<IXmlElement> q = d1->CreateElement("q");
    q->WriteAttr("r", "1");
    q->AppendChildElement("s")->WriteAttr("t", "2");
    q->AppendInstruction("pi", "data");
    q->AppendTextNode("text");

    d2->AppendChildNode(q);
    EXPECT_EQ(q->NameTableRef(), t2);
    EXPECT_EQ(q->NameString(), "q");
    EXPECT_EQ(q->AttrNameAt(0), "r");
    XmlRef<IXmlNode> s = q->ChildList()->ItemAt(0);
    EXPECT_EQ(s->NameTableRef(), t2);
    EXPECT_EQ(s->NameString(), "s");
    EXPECT_EQ(s->AttrNameAt(0), "t");
    EXPECT_EQ(q->ChildList()->ItemAt(1)->NameString(), "pi");
    EXPECT_EQ(q->ChildList()->ItemAt(2)->NameString(), "#text");
    // Every name of the old table is now in the new one.
    TXmlNameTable& old = *ImplTable(t1.get());
    TXmlNameTable& moved = *ImplTable(t2.get());
    for (int32_t i = 0; i < old.NameCount(); ++i) {
        const std::string name = old.NameRef(i);
        EXPECT_NE(std::find(moved.Names().begin(), moved.Names().end(), name), moved.Names().end()) << name;
    }
    EXPECT_EQ(d2->MarkupText(), "\r\n<q r=\"1\">\r\n\t<s t=\"2\"/><?pi data?>text\r\n</q>");
}

// Built, written, copied, searched and released 100,000 levels deep: nothing recurses.
TEST(DeepTree, HundredThousandLevels) {
    constexpr int kDepth = 100000;
    XmlRef<IXmlElement> root = NewElement("d");
    XmlRef<IXmlElement> cur = root;
    for (int i = 0; i < kDepth; ++i) cur = cur->AppendChildElement("d");
    cur->WriteText("leaf");
    cur.reset();

    const std::string compact = [&] {
        XmlRef<IXmlDocument> doc = NewXmlDocument();
        doc->SetPreserveWhiteSpace(true);
        XmlRef<IXmlNode> copy = root->Duplicate(true);
        doc->AppendChildNode(copy);
        return doc->MarkupText();
    }();
    EXPECT_EQ(compact.size(), (kDepth + 1) * 7u + 4);  // "<d>" + "</d>" per level, "leaf"
    EXPECT_EQ(root->ReadText(), "leaf");
    // Indented, the tabs alone would grow with the square of the depth: refused.
    EXPECT_THROW(root->MarkupText(), TXmlError);

    // Moving the whole tree onto another table remaps every level.
    XmlRef<IXmlDocument> other = NewXmlDocument({}, "1.0", {}, NewXmlNameTable());
    other->AppendChildNode(root);
    EXPECT_EQ(root->NameTableRef(), other->NameTableRef());
    root.reset();
    other.reset();  // the release must not recurse either
}
