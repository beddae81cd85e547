#include "platform/messages.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

class StandardErrorSink : public MessageSink {
public:
    void ShowMessage(const std::string& text, MessageIcon, const std::string&) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    void Beep(MessageIcon) override {}
    void Trace(const std::string& line) override { std::fputs(line.c_str(), stderr); }
};

StandardErrorSink g_standardErrorSink;
std::mutex g_sinkMutex;  // serialises every call into a sink and every change of sink
MessageSink* g_pSink = &g_standardErrorSink;

}  // namespace

MessageSink* SetMessageSink(MessageSink* sink) {
    std::lock_guard lock(g_sinkMutex);
    MessageSink* previous = g_pSink;
    g_pSink = sink ? sink : &g_standardErrorSink;
    return previous;
}

void ShowMessage(const std::string& text, MessageIcon icon, const std::string& caption) {
    std::lock_guard lock(g_sinkMutex);
    g_pSink->ShowMessage(text, icon, caption);
}

void MessageBeep(MessageIcon icon) {
    std::lock_guard lock(g_sinkMutex);
    g_pSink->Beep(icon);
}

void Trace(const std::string& line) {
    std::lock_guard lock(g_sinkMutex);
    g_pSink->Trace(line);
}

MessageCapture::MessageCapture() : m_pPrevious(SetMessageSink(this)) {}

MessageCapture::~MessageCapture() { SetMessageSink(m_pPrevious); }

void MessageCapture::ShowMessage(const std::string& text, MessageIcon icon,
                                 const std::string& caption) {
    std::lock_guard lock(m_mutex);
    m_messages.push_back(text);
    m_captions.push_back(caption);
    m_icons.push_back(icon);
}

void MessageCapture::Beep(MessageIcon) {
    std::lock_guard lock(m_mutex);
    ++m_nBeeps;
}

void MessageCapture::Trace(const std::string& line) {
    std::lock_guard lock(m_mutex);
    m_traces.push_back(line);
}

std::vector<std::string> MessageCapture::Messages() const {
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::vector<std::string> MessageCapture::Captions() const {
    std::lock_guard lock(m_mutex);
    return m_captions;
}

std::vector<MessageIcon> MessageCapture::Icons() const {
    std::lock_guard lock(m_mutex);
    return m_icons;
}

std::vector<std::string> MessageCapture::Traces() const {
    std::lock_guard lock(m_mutex);
    return m_traces;
}

int MessageCapture::Beeps() const {
    std::lock_guard lock(m_mutex);
    return m_nBeeps;
}

void MessageCapture::Clear() {
    std::lock_guard lock(m_mutex);
    m_messages.clear();
    m_captions.clear();
    m_icons.clear();
    m_traces.clear();
    m_nBeeps = 0;
}

}  // namespace platform
