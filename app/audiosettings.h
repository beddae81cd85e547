// The microphone settings the user chose on the settings page, kept in the user's Qt settings
// file (organisation and application "Quorvel"). Everything read is checked: a file that cannot
// be read, or a value that makes no sense, gives the default for it.
#pragma once

#include <string>

class CAudioSettings {
public:
    std::string strDevice;     // the recording device's name; empty: the default device
    int nLatencyMs = 0;        // the microphone latency L the user set or calibrated, 0..1000
    bool bLatencySet = false;  // false: L is what the capture stream reports

    static CAudioSettings Load();
    // Writes the settings; false when the file cannot be written.
    bool Save() const;

    // The L a session uses: the user's when set, else what the open stream reports.
    int LatencyMs(int reportedMs) const { return bLatencySet ? nLatencyMs : reportedMs; }

    bool operator==(const CAudioSettings&) const = default;
};
