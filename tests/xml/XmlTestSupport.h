// Shared by the XML parser, binary and document tests: a compact dump of a tree, the message of a
// failing call, and running a function on a thread with a small (1 MB) stack like a host's.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "xml/XmlInternal.h"

#ifdef _WIN32
#include <windows.h>
#undef CharUpper  // windows.h's A/W name macro would hide platform::CharUpper
#else
#include <pthread.h>
#endif

namespace xmltest {

using namespace xml;

inline std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c < 0x20 || c == '"' || c == '\\') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

inline std::string DumpValue(const TaggedValue& value) {
    return std::to_string(value.KindCode()) + ":" + Quoted(ValueToXmlText(value));
}
inline std::string DumpValue(const TXmlValue& value) { return DumpValue(value.ToTagged()); }

inline void DumpAttrs(std::string& out, TXmlNode& node) {
    for (const TXmlAttrData& attr : node.Attrs()) {
        out += ' ';
        out += node.Table().NameOfId(attr.NameId);
        out += '=';
        out += DumpValue(attr.Value);
    }
}

inline void DumpList(std::string& out, TXmlNodeList* list);

// One node: E(name attrs)=direct{children}, T(value), C"..", M"..", P(target attrs)"data"{..}.
inline void DumpNode(std::string& out, TXmlNode& node) {
    // Appended piece by piece: GCC 12 warns wrongly about "literal" + std::string.
    switch (node.NodeKind()) {
    case xnkElement: {
        auto& e = static_cast<TXmlElement&>(node);
        out.append("E(").append(e.NameString());
        DumpAttrs(out, e);
        out += ')';
        if (!e.DirectValue().IsEmpty()) out.append("=").append(DumpValue(e.DirectValue()));
        break;
    }
    case xnkText: out.append("T(").append(DumpValue(static_cast<TXmlText&>(node).Value)).append(")"); return;
    case xnkCDATA: out.append("C").append(Quoted(std::string(static_cast<TXmlCharacterData&>(node).Text.TextView()))); return;
    case xnkComment: out.append("M").append(Quoted(std::string(static_cast<TXmlCharacterData&>(node).Text.TextView()))); return;
    case xnkInstruction: {
        auto& pi = static_cast<TXmlProcessingInstruction&>(node);
        out.append("P(").append(pi.NameString());
        DumpAttrs(out, pi);
        out.append(")").append(Quoted(pi.Data));
        break;
    }
    default: out.append("?").append(std::to_string(node.NodeKind())); break;
    }
    if (node.Children()) DumpList(out, node.Children());
}

inline void DumpList(std::string& out, TXmlNodeList* list) {
    out += "{";
    for (int32_t i = 0; i < list->Count(); ++i) {
        if (i) out += " ";
        DumpNode(out, *list->Item(i));
    }
    out += "}";
}

// The document's attributes and children; "{}" for a document without a child list.
inline std::string Dump(const XmlRef<IXmlDocument>& document) {
    TXmlNode& node = *ImplNode(document.get());
    std::string out;
    DumpAttrs(out, node);
    if (node.Children()) DumpList(out, node.Children());
    else out += "{}";
    return out;
}

// The message of the TXmlError that fn throws; "" when it throws none.
inline std::string ErrorOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const TXmlError& e) {
        return e.what();
    }
    return "";
}

// Runs fn on a new thread whose stack is 1 MB, the default of a Win32 host's threads.
inline void OnSmallStack(const std::function<void()>& fn) {
    constexpr size_t kStack = 1 << 20;
#ifdef _WIN32
    struct Thread {
        static DWORD WINAPI Run(LPVOID p) {
            (*static_cast<const std::function<void()>*>(p))();
            return 0;
        }
    };
    HANDLE thread = CreateThread(nullptr, kStack, &Thread::Run, const_cast<std::function<void()>*>(&fn),
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
#else
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kStack);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* p) -> void* {
                      (*static_cast<const std::function<void()>*>(p))();
                      return nullptr;
                  },
                  const_cast<std::function<void()>*>(&fn)),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
#endif
}

}  // namespace xmltest
