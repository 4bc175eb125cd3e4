// Parsing one generated document of about 20 MB (windows-1251, Cyrillic names, attributes,
// text with references, comments, CDATA) into a DOM: XmlLib's LoadXmlText against pugixml,
// tinyxml2 and libxml2, plus XmlLib's text save and binary save and load.
//
//   xml_parse_bench generate <file> [megabytes]   writes the document
//   xml_parse_bench make-binary <file> <binary>   writes its binary form
//   xml_parse_bench <mode> <file> [repeats]       one mode per process: prints the first run
//                                                 (cold) and the median of the repeats (warm)
// Modes on the text: kra, pugixml, tinyxml2, libxml2, kra-save-text, kra-save-binary and
// kra-duplicate (a deep copy of the parsed tree: what building the nodes alone costs),
// kra-release (dropping the parsed document: what freeing the tree costs);
// on the binary form: kra-load-binary.
// bench/xml_parse_run runs them all, each in a fresh process, and prints the ratios.
#include <sys/resource.h>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <pugixml.hpp>
#include <tinyxml2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "xml/XmlLib.h"
#include "xml/XmlStreams.h"

namespace {

using Clock = std::chrono::steady_clock;

// Read straight into a string of the file's size: the peak memory of a run counts one copy.
std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string text(static_cast<size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

// The process's peak resident memory so far, in kB.
long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Records of a directory with Cyrillic names (the literals are windows-1251 bytes).
std::string Generate(size_t megabytes) {
    std::string text = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<!-- Справочник для проверки скорости -->\r\n"
                       "<Справочник версия=\"1\" создан=\"2024-03-05T14-07-09\">\r\n";
    const size_t target = megabytes << 20;
    for (int i = 0; text.size() < target; ++i) {
        const std::string n = std::to_string(i);
        text += "\t<Запись id=\"" + n + "\" имя=\"Иванов &amp; Ко №" + n + "\" код='A-" + n +
                "' активен=\"" + std::to_string(i & 1) + "\">\r\n";
        text += "\t\t<Описание>Текст записи номер " + n +
                " с &lt;разметкой&gt;, кавычками &quot;&apos; и знаком &#169; в середине</Описание>\r\n";
        text += "\t\t<Данные><![CDATA[сырые <данные> & " + n + " ]]></Данные>\r\n";
        text += "\t\t<!-- комментарий к записи " + n + " -->\r\n";
        text += "\t\t<Поле тип=\"int\" точность=\"" + std::to_string(i % 7) + "\">" + std::to_string(i * 7919) +
                "</Поле>\r\n";
        text += "\t\t<Пустой/>\r\n\t</Запись>\r\n";
    }
    text += "</Справочник>";
    return text;
}

double Seconds(const std::function<void()>& fn) {
    const auto start = Clock::now();
    fn();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One timed run: prepare (untimed), the measured step, then clean-up (untimed).
struct Step {
    std::function<void()> prepare, run, finish;
};

// before_kB: the peak before the first run (the input held in memory); peak_kB: at the end.
void Report(const char* mode, const std::vector<double>& times, size_t bytes, long beforeKilobytes) {
    std::vector<double> warm(times.begin() + 1, times.end());
    std::sort(warm.begin(), warm.end());
    const double median = warm.empty() ? times[0] : warm[warm.size() / 2];
    const double mb = static_cast<double>(bytes) / (1 << 20);
    std::printf("%s bytes=%zu cold_ms=%.2f warm_ms=%.2f cold_MBps=%.1f warm_MBps=%.1f before_kB=%ld peak_kB=%ld\n",
                mode, bytes, times[0] * 1e3, median * 1e3, mb / times[0], mb / median, beforeKilobytes,
                PeakKilobytes());
}

// After a tree of a million small blocks is freed, glibc merges them on the next allocation of
// a few kilobytes or more, wherever that falls. Asking for one such block right after the
// clean-up settles the heap outside the timed step, for every library alike.
void SettleHeap() {
    volatile char* block = static_cast<char*>(std::malloc(64 << 10));
    block[0] = 1;
    std::free(const_cast<char*>(block));
}

int Measure(const char* mode, const Step& step, size_t bytes, int repeats) {
    std::vector<double> times;
    const long before = PeakKilobytes();
    for (int i = 0; i <= repeats; ++i) {
        if (step.prepare) step.prepare();
        times.push_back(Seconds(step.run));
        if (step.finish) step.finish();
        SettleHeap();
    }
    Report(mode, times, bytes, before);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: xml_parse_bench generate <file> [MB] | <mode> <file> [repeats]\n");
        return 2;
    }
    const std::string mode = argv[1];
    if (mode == "generate") {
        std::ofstream(argv[2], std::ios::binary) << Generate(argc > 3 ? std::stoul(argv[3]) : 20);
        return 0;
    }
    const std::string text = ReadFile(argv[2]);
    if (mode == "make-binary" && argc > 3) {
        xml::XmlRef<xml::IXmlDocument> doc = xml::NewXmlDocument();
        doc->LoadXmlText(text);
        std::ofstream(argv[3], std::ios::binary) << doc->GetBinaryXml();
        return 0;
    }
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 9;
    if (mode == "kra-load-binary") {  // the file holds the binary form: the first load is cold
        xml::XmlRef<xml::IXmlDocument> back;
        return Measure(mode.c_str(), {[&] { back = xml::NewXmlDocument(); }, [&] { back->LoadXmlText(text); },
                                      [&] { back.reset(); }},
                       text.size(), repeats);
    }

    if (mode == "kra") {
        xml::XmlRef<xml::IXmlDocument> doc;
        return Measure(mode.c_str(), {[&] { doc = xml::NewXmlDocument(); }, [&] { doc->LoadXmlText(text); },
                                      [&] { doc.reset(); }},
                       text.size(), repeats);
    }
    if (mode == "kra-release") {
        xml::XmlRef<xml::IXmlDocument> doc;
        return Measure(mode.c_str(),
                       {[&] {
                            doc = xml::NewXmlDocument();
                            doc->LoadXmlText(text);
                        },
                        [&] { doc.reset(); }, nullptr},
                       text.size(), repeats);
    }
    if (mode == "pugixml") {
        std::unique_ptr<pugi::xml_document> doc;
        return Measure(mode.c_str(),
                       {[&] { doc = std::make_unique<pugi::xml_document>(); },
                        [&] {
                            if (!doc->load_buffer(text.data(), text.size())) std::abort();
                        },
                        [&] { doc.reset(); }},
                       text.size(), repeats);
    }
    if (mode == "tinyxml2") {
        std::unique_ptr<tinyxml2::XMLDocument> doc;
        return Measure(mode.c_str(),
                       {[&] { doc = std::make_unique<tinyxml2::XMLDocument>(); },
                        [&] {
                            if (doc->Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) std::abort();
                        },
                        [&] { doc.reset(); }},
                       text.size(), repeats);
    }
    if (mode == "libxml2") {
        xmlDocPtr doc = nullptr;
        return Measure(mode.c_str(),
                       {nullptr,
                        [&] {
                            doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "bench.xml", nullptr,
                                                XML_PARSE_NONET | XML_PARSE_HUGE);
                            if (!doc) std::abort();
                        },
                        [&] { xmlFreeDoc(doc); }},
                       text.size(), repeats);
    }

    // XmlLib's own saves and binary load, on the parsed document.
    xml::XmlRef<xml::IXmlDocument> doc = xml::NewXmlDocument();
    doc->LoadXmlText(text);
    if (mode == "kra-save-text") {
        std::unique_ptr<xml::TMemoryStream> out;
        return Measure(mode.c_str(), {[&] { out = std::make_unique<xml::TMemoryStream>(); },
                                      [&] { doc->SaveToStream(*out); }, [&] { out.reset(); }},
                       doc->MarkupText().size(), repeats);
    }
    if (mode == "kra-save-binary") {
        std::string binary;
        return Measure(mode.c_str(), {nullptr, [&] { binary = doc->GetBinaryXml(); }, [&] { binary.clear(); }},
                       doc->GetBinaryXml().size(), repeats);
    }
    if (mode == "kra-duplicate") {
        xml::XmlRef<xml::IXmlNode> copy;
        return Measure(mode.c_str(), {nullptr, [&] { copy = doc->Duplicate(true); }, [&] { copy.reset(); }},
                       text.size(), repeats);
    }
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
