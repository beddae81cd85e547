// The page laid over the main window for help (the lines of "init") and for the settings: the
// songs folder (a hint where new songs go, and a button that opens the folder in the desktop's
// file browser), the user's other song folders (CLibraryFolderPanel) and the microphone
// (CMicrophonePanel).
#pragma once

#include <QDialog>
#include <QLabel>
#include <QListWidget>

#include <functional>
#include <string>

#include "app/libraryfolderpanel.h"
#include "app/microphonepanel.h"
#include "controls/btnst.h"

class CIntroduceDlg : public QDialog {
public:
    explicit CIntroduceDlg(QWidget* parent);

    // Makes the window, hidden; the microphone panel records and plays through these devices.
    void CreateModeless(CMicrophonePanel::Devices devices = {});
    // Fills the help list from "init" in the working directory (code page 936): every line
    // followed by an empty entry, up to the first empty line.
    void LoadHelpText(const std::string& path = "init");
    // Opens the songs folder "歌曲" with the desktop's file browser.
    void OnOpenSongFolder();
    void SetFolderOpener(std::function<bool(const QString&)> opener) { m_open = std::move(opener); }

    QListWidget* HelpList() const { return m_listHelp; }
    CMicrophonePanel* Microphone() const { return m_microphone; }
    CLibraryFolderPanel* LibraryFolders() const { return m_libraryFolders; }
    QWidget* Control(int id) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QListWidget* m_listHelp = nullptr;
    CButtonST* m_btnClose = nullptr;
    CButtonST* m_btnOpenFolder = nullptr;
    QLabel* m_hint = nullptr;
    CMicrophonePanel* m_microphone = nullptr;
    CLibraryFolderPanel* m_libraryFolders = nullptr;
    std::function<bool(const QString&)> m_open;
};
