#include "platform/messages.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

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

// No lock is held while a sink runs: a sink may show a modal box whose nested event loop traces or
// shows another message on the same thread, and other threads trace on meanwhile. Each call counts
// itself in the generation it started in; replacing the sink starts a new generation and waits
// until no call of the old one (but the replacing thread's own) can still be inside the old sink.
std::atomic<MessageSink*> g_pSink{&g_standardErrorSink};
std::atomic<unsigned> g_generation{0};
std::atomic<int> g_calls[2] = {0, 0};  // calls in progress, by the parity of their generation
thread_local int t_calls[2] = {0, 0};  // the same, of this thread only
std::mutex g_replaceMutex;             // one replacement at a time

template <typename Call>
void WithSink(Call call) {
    const unsigned parity = g_generation.load() & 1u;
    g_calls[parity].fetch_add(1);
    ++t_calls[parity];
    // Loaded after counting: a replacement that missed this call has already published its sink.
    MessageSink* sink = g_pSink.load();
    try {
        call(*sink);
    } catch (...) {
        --t_calls[parity];
        g_calls[parity].fetch_sub(1);
        throw;
    }
    --t_calls[parity];
    g_calls[parity].fetch_sub(1);
}

}  // namespace

MessageSink* SetMessageSink(MessageSink* sink) {
    std::lock_guard lock(g_replaceMutex);
    MessageSink* previous = g_pSink.exchange(sink ? sink : &g_standardErrorSink);
    const unsigned old = g_generation.fetch_add(1) & 1u;
    // Calls into the previous sink end soon (traces) or when their box closes.
    while (g_calls[old].load() > t_calls[old]) std::this_thread::yield();
    return previous;
}

void ShowMessage(const std::string& text, MessageIcon icon, const std::string& caption) {
    WithSink([&](MessageSink& sink) { sink.ShowMessage(text, icon, caption); });
}

void MessageBeep(MessageIcon icon) {
    WithSink([&](MessageSink& sink) { sink.Beep(icon); });
}

void Trace(const std::string& line) {
    WithSink([&](MessageSink& sink) { sink.Trace(line); });
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
