// XmlLib against pugixml and tinyxml2: building a tree of 200,000 elements with three
// attributes each by name, and writing it as indented text (MB/s of output).
#include <benchmark/benchmark.h>
#include <pugixml.hpp>
#include <tinyxml2.h>

#include <string>

#include "xml/XmlLib.h"

namespace {

constexpr int kGroups = 1000;
constexpr int kItemsPerGroup = 200;  // 200,000 items

std::string ItemName(int i) { return "item" + std::to_string(i); }

xml::XmlRef<xml::IXmlDocument> BuildXmlLib() {
    xml::XmlRef<xml::IXmlDocument> doc = xml::NewXmlDocument("root");
    xml::XmlRef<xml::IXmlElement> root = doc->DocumentElement();
    for (int g = 0; g < kGroups; ++g) {
        xml::XmlRef<xml::IXmlElement> group = root->AppendChildElement("group");
        for (int k = 0; k < kItemsPerGroup; ++k) {
            const int i = g * kItemsPerGroup + k;
            xml::XmlRef<xml::IXmlElement> item = group->AppendChildElement("item");
            item->WriteIntAttr("id", i);
            item->WriteAttr("name", ItemName(i));
            item->WriteBoolAttr("enabled", (i & 1) != 0);
        }
    }
    return doc;
}

void BuildPugi(pugi::xml_document& doc) {
    pugi::xml_node decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "windows-1251";
    pugi::xml_node root = doc.append_child("root");
    for (int g = 0; g < kGroups; ++g) {
        pugi::xml_node group = root.append_child("group");
        for (int k = 0; k < kItemsPerGroup; ++k) {
            const int i = g * kItemsPerGroup + k;
            pugi::xml_node item = group.append_child("item");
            item.append_attribute("id") = i;
            item.append_attribute("name") = ItemName(i).c_str();
            item.append_attribute("enabled") = (i & 1) ? 1 : 0;
        }
    }
}

void BuildTiny(tinyxml2::XMLDocument& doc) {
    doc.InsertEndChild(doc.NewDeclaration("xml version=\"1.0\" encoding=\"windows-1251\""));
    tinyxml2::XMLElement* root = doc.NewElement("root");
    doc.InsertEndChild(root);
    for (int g = 0; g < kGroups; ++g) {
        tinyxml2::XMLElement* group = root->InsertNewChildElement("group");
        for (int k = 0; k < kItemsPerGroup; ++k) {
            const int i = g * kItemsPerGroup + k;
            tinyxml2::XMLElement* item = group->InsertNewChildElement("item");
            item->SetAttribute("id", i);
            item->SetAttribute("name", ItemName(i).c_str());
            item->SetAttribute("enabled", (i & 1) ? 1 : 0);
        }
    }
}

struct StringWriter : pugi::xml_writer {
    std::string out;
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

void BM_Build_XmlLib(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(BuildXmlLib());
    state.SetItemsProcessed(state.iterations() * kGroups * kItemsPerGroup);
}

void BM_Build_pugixml(benchmark::State& state) {
    for (auto _ : state) {
        pugi::xml_document doc;
        BuildPugi(doc);
        benchmark::DoNotOptimize(doc);
    }
    state.SetItemsProcessed(state.iterations() * kGroups * kItemsPerGroup);
}

void BM_Build_tinyxml2(benchmark::State& state) {
    for (auto _ : state) {
        tinyxml2::XMLDocument doc;
        BuildTiny(doc);
        benchmark::DoNotOptimize(doc);
    }
    state.SetItemsProcessed(state.iterations() * kGroups * kItemsPerGroup);
}

void BM_Serialize_XmlLib(benchmark::State& state) {
    xml::XmlRef<xml::IXmlDocument> doc = BuildXmlLib();
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text = doc->MarkupText();
        bytes += text.size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_Serialize_pugixml(benchmark::State& state) {
    pugi::xml_document doc;
    BuildPugi(doc);
    size_t bytes = 0;
    for (auto _ : state) {
        StringWriter w;
        doc.save(w, "\t", pugi::format_indent);
        bytes += w.out.size();
        benchmark::DoNotOptimize(w.out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_Serialize_tinyxml2(benchmark::State& state) {
    tinyxml2::XMLDocument doc;
    BuildTiny(doc);
    size_t bytes = 0;
    for (auto _ : state) {
        tinyxml2::XMLPrinter printer;  // indented
        doc.Print(&printer);
        bytes += static_cast<size_t>(printer.CStrSize() - 1);
        benchmark::DoNotOptimize(printer.CStr());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

}  // namespace

BENCHMARK(BM_Build_XmlLib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Build_pugixml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Build_tinyxml2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Serialize_XmlLib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Serialize_pugixml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Serialize_tinyxml2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
