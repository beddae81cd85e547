#include "audio/soundout.h"

#include <portaudio.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "audio/errorprint.h"
#include "platform/messages.h"

using platform::WaveHeader;

namespace {
constexpr unsigned kCloseWhenDrained = 0x0400;  // the worker's own message
}  // namespace

CSoundOut::CSoundOut(std::unique_ptr<CWaveDevice> pDevice)
    : m_hWaveOut(pDevice ? std::move(pDevice) : MakePortAudioWaveDevice(false)) {
    CreateThread();
}

CSoundOut::~CSoundOut() {
    if (m_bPlaying) Stop();
    EndThread();
    // A buffer written while the stream was being stopped may still be out: closing the device
    // gives it back, and whatever the worker did not get to is released here.
    if (m_hWaveOut->IsOpen()) m_hWaveOut->Close();
    unsigned nMessage = 0;
    void* pParam = nullptr;
    while (TakeMessage(nMessage, pParam)) {
        if (nMessage != MM_WOM_DONE) continue;
        auto* pHeader = static_cast<WaveHeader*>(pParam);
        m_hWaveOut->Unprepare(pHeader);
        delete[] reinterpret_cast<uint8_t*>(pHeader->lpData);
        delete pHeader;
        --m_nQueuedBuffers;
    }
}

bool CSoundOut::Start(const platform::WaveFormat* pFormat) {
    if (m_bPlaying || !m_pfnCallback || !m_pCallbackParam) return false;
    if (pFormat) std::memcpy(&m_Format, pFormat, sizeof(platform::WaveFormat));
    const int nResult = m_hWaveOut->Open(
        m_Format, [this](WaveHeader* pHeader) { PostThreadMessage(MM_WOM_DONE, pHeader); });
    if (nResult != paNoError) {
        WaveOutErrorMsg(nResult, "in start()");
        return false;
    }
    m_bPlaying = true;
    bool bWritten = false;
    for (int i = 0; i < 3; ++i) {
        CBuffer buffer(int32_t(m_Format.nBlockAlign) * m_nBufferSize, false);
        if (!buffer.m_pData) continue;  // shown by CBuffer
        m_pfnCallback(&buffer, m_pCallbackParam);
        int nBefore = 0;
        if (WriteBuffer(&buffer, nBefore))
            bWritten = true;
        else
            delete[] buffer.m_pData;  // refused: it will never come back
    }
    if (!bWritten) {
        // No buffer will come back to close the device.
        m_bPlaying = false;
        m_hWaveOut->Close();
    }
    return true;
}

void CSoundOut::Stop() {
    // The owner and the worker (at the end of the stream) may both stop; one of them does.
    if (!m_bPlaying.exchange(false)) return;
    // Traced before the call: the worker may handle the buffers it returns, and close the
    // device, before the call comes back, and the trace must not say the close came first.
    platform::Trace("waveOutReset()\n");
    const int nResult = m_hWaveOut->Reset();
    if (nResult != paNoError) WaveOutErrorMsg(nResult, "in stop()");
    // Once the buffers the reset returned are handled: closes the device even when none was
    // out (all of them refused).
    PostThreadMessage(kCloseWhenDrained, nullptr);
}

int CSoundOut::AddOutputBufferToQueue(CBuffer* pBuffer) {
    int nBefore = 0;
    WriteBuffer(pBuffer, nBefore);
    return nBefore;
}

bool CSoundOut::WriteBuffer(CBuffer* pBuffer, int& nBefore) {
    nBefore = 0;
    auto* pHeader = new (std::nothrow) WaveHeader{};
    if (!pHeader) return false;
    pHeader->lpData = reinterpret_cast<char*>(pBuffer->m_pData);
    pHeader->dwBufferLength = uint32_t(std::max<int32_t>(pBuffer->m_nSize, 0));
    // Counted first: the buffer may come back before Add has returned.
    nBefore = m_nQueuedBuffers++;
    int nResult = m_hWaveOut->Prepare(pHeader);
    if (nResult == paNoError) {
        nResult = m_hWaveOut->Add(pHeader);
        if (nResult == paNoError) return true;
        m_hWaveOut->Unprepare(pHeader);
    }
    --m_nQueuedBuffers;
    WaveOutErrorMsg(nResult, "in AddOutputBufferToQueue()");
    delete pHeader;
    return false;
}

void CSoundOut::OnThreadMessage(unsigned nMessage, void* pParam) {
    if (nMessage == MM_WOM_DONE) OnWOM_DONE(static_cast<WaveHeader*>(pParam));
    if (nMessage == kCloseWhenDrained) CloseWhenDrained();
}

void CSoundOut::OnWOM_DONE(WaveHeader* pHeader) {
    const int nResult = m_hWaveOut->Unprepare(pHeader);
    if (nResult != paNoError) {
        WaveOutErrorMsg(nResult, "in OnWOM_DONE()");
        return;
    }
    --m_nQueuedBuffers;
    if (m_bPlaying) {
        // The length this memory was last played with: a buffer never grows.
        CBuffer buffer(pHeader->lpData, int32_t(pHeader->dwBufferLength));
        m_pfnCallback(&buffer, m_pCallbackParam);
        buffer.m_nSize = std::min<int32_t>(buffer.m_nSize, int32_t(pHeader->dwBufferLength));
        if (buffer.m_nSize > 0) {
            int nBefore = 0;
            if (WriteBuffer(&buffer, nBefore)) {
                platform::Trace("WOM_DONE : refill buffer\n");
                delete pHeader;
                return;
            }
            // Refused: released like a buffer at the end of the stream.
        } else {
            Stop();
        }
    }
    delete[] reinterpret_cast<uint8_t*>(pHeader->lpData);
    delete pHeader;
    platform::Trace("WOM_DONE : remove buffer\n");
    CloseWhenDrained();
}

void CSoundOut::CloseWhenDrained() {
    if (m_nQueuedBuffers != 0 || m_bPlaying || !m_hWaveOut->IsOpen()) return;
    const int nResult = m_hWaveOut->Close();
    if (nResult != paNoError) WaveOutErrorMsg(nResult, "in stop()");
    platform::Trace("waveOutClose()\n");
}

void CSoundOut::WaveOutErrorMsg(int nResult, const char* pszWhere) {
    const std::string strText = m_hWaveOut->ErrorText(nResult).substr(0, 100);
    ErrorPrint("WAVEOUT:%x:%s %s", unsigned(nResult), strText.c_str(), pszWhere);
}
