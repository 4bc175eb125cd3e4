// Shared by the fuzz targets: a document on a table of its own (the shared table would grow
// with every input), loading that reports the message instead of throwing, and a check that
// aborts so libFuzzer keeps the input.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

#include "xml/XmlInternal.h"

namespace fuzz {

using namespace xml;

inline XmlRef<IXmlDocument> PrivateDocument(bool preserve = false) {
    XmlRef<IXmlDocument> doc = NewXmlDocument({}, "1.0", {}, NewXmlNameTable(64));  // small: cheap to make per input
    doc->SetPreserveWhiteSpace(preserve);
    return doc;
}

template <class Fn>
std::string ErrorOf(Fn&& fn) {
    try {
        fn();
    } catch (const TXmlError& e) {
        return std::string("error: ") + e.what();
    }
    return "ok";
}

inline void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

}  // namespace fuzz
