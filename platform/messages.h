// Messages for the user and trace lines for the developer.
//
// Every message box, warning beep and trace line of the program goes through here, so that the
// program, the headless tools and the tests can each decide where they end up. The default sink
// writes to standard error. Safe to call from any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace platform {

enum class MessageIcon { None, Information, Exclamation, Error };

// Where messages go. Calls may arrive from several threads at once, and again on the same thread
// while a message is shown (from a nested event loop); no lock of this module is held meanwhile.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    // A message box with an OK button and the caption given (the program's name when empty);
    // returns when the user has closed it.
    virtual void ShowMessage(const std::string& text, MessageIcon icon,
                             const std::string& caption) = 0;
    // The warning beep that goes with an exclamation.
    virtual void Beep(MessageIcon icon) = 0;
    // A line of developer diagnostics, passed as written (usually ending in '\n').
    virtual void Trace(const std::string& line) = 0;
};

// Installs a sink (null restores the standard-error sink) and returns the one it replaces, once no
// other thread is inside that one any more. The sink must outlive its installation.
MessageSink* SetMessageSink(MessageSink* sink);

void ShowMessage(const std::string& text, MessageIcon icon = MessageIcon::Exclamation,
                 const std::string& caption = std::string());
void MessageBeep(MessageIcon icon = MessageIcon::Exclamation);
void Trace(const std::string& line);

// Collects everything shown while it is alive, instead of letting it reach the previous sink.
// For tests and for tools that report messages their own way.
class MessageCapture : public MessageSink {
public:
    MessageCapture();
    ~MessageCapture() override;
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    void ShowMessage(const std::string& text, MessageIcon icon,
                     const std::string& caption) override;
    void Beep(MessageIcon icon) override;
    void Trace(const std::string& line) override;

    std::vector<std::string> Messages() const;
    std::vector<std::string> Captions() const;  // one per message
    std::vector<MessageIcon> Icons() const;     // one per message
    std::vector<std::string> Traces() const;
    int Beeps() const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_messages;
    std::vector<std::string> m_captions;
    std::vector<MessageIcon> m_icons;
    std::vector<std::string> m_traces;
    int m_nBeeps = 0;
    MessageSink* m_pPrevious;
};

}  // namespace platform
