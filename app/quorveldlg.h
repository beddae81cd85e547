// The main window: one 800 × 600 dialog whose screens (home, type choice, song lists, singing,
// finished) share its controls and the song choice. It owns the skinned controls, the pitch
// display and the progress bars, the score dialog, the settings and help page, and the singing
// session (CSingingSession, which owns the capture device, the accompaniment player and the
// evaluation engine; the dialog serves as its screen and drives it from the buttons).
#pragma once

#include <QColor>
#include <QComboBox>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/controlids.h"
#include "app/introducedlg.h"
#include "app/songdetailspanel.h"
#include "controls/bitbuttonnl.h"
#include "controls/btnst.h"
#include "controls/hyperlink.h"
#include "controls/pictureex.h"
#include "controls/pillchoice.h"
#include "display/coverloader.h"
#include "display/histogramctrl.h"
#include "display/historypage.h"
#include "display/iconprogress.h"
#include "display/reviewpage.h"
#include "display/scoredlg.h"
#include "engine/sessionrecord.h"
#include "engine/sessionview.h"
#include "engine/singingsession.h"
#include "engine/songref.h"
#include "history/historyservice.h"
#include "library/songentry.h"
#include "library/songlibrary.h"
#include "library/songorder.h"
#include "platform/capturedevice.h"
#include "platform/clickplayer.h"
#include "platform/player.h"
#include "res/resources.h"

class CQuorvelDlg : public QDialog, public engine::CSessionView {
public:
    // Where the microphone and the accompaniment come from; the defaults are the real devices.
    struct Devices {
        std::function<std::unique_ptr<platform::CCaptureDevice>()> makeCapture;
        // The recording devices the settings page offers, and what plays its calibration clicks.
        std::function<std::vector<std::string>()> listInputs;
        std::function<std::unique_ptr<platform::CClickPlayer>()> makeClicks;
        std::function<std::unique_ptr<platform::CPlayer>()> makePlayer;
    };

    explicit CQuorvelDlg(Devices devices = {});
    ~CQuorvelDlg() override;

    // Initialisation; false when it stopped early (no memory for the capture buffers).
    // Without a microphone it still builds the whole window (after the two messages) and returns
    // true; singing then waits for a device chosen on the settings page.
    bool OnInitDialog();
    // Whether the capture device is open, so that a song can be sung.
    bool HasMicrophone() const { return m_bMicrophone; }

    // How a control's text and background are painted (the colour rules of the dialog).
    struct ControlColours {
        bool bTransparent = false;  // the background shows through
        QColor text;                // invalid: the platform's own
        QColor brush;               // invalid: hollow or the platform's own
        bool bDefault = false;      // the platform's default look
    };
    ControlColours OnCtlColor(int id) const;
    // The grade label's colour for a text.
    static QColor GradeColour(const QString& text);

    // The widget of a control id (nullptr when there is none).
    QWidget* Control(int id) const;
    int Screen() const { return m_nScreen; }
    const engine::CSingingSession& Session() const { return m_session; }
    const engine::CSingingEngine& Engine() const { return m_session.Engine(); }
    CScoreDlg* ScoreDlg() const { return m_pScoreDlg; }
    CIntroduceDlg* IntroDlg() const { return m_pIntroDlg; }
    CHistogramCtrl& Display() { return m_display; }
    bool IsDisplayUp() const { return m_bDisplayUp; }
    bool IsSessionRunning() const { return m_session.IsRunning(); }
    bool HasCaption() const;

    // Handlers, named as the buttons' commands.
    void OnStartSinging();
    void OnSettingsPage();
    void OnHelpPage();
    void OnExit();
    void OnSongPicked();
    void OnClearSong(int box);
    void OnConfirm();
    void OnListBack();
    void OnHome();
    void OnStopSinging();
    void OnRoleBoy();
    void OnRoleGirl();
    // The judging level chosen on the song list (0 轻松, 1 标准, 2 严格): kept in the settings.
    void OnLevelChosen(int index);
    void OnTypeChoiceClick(const QPoint& point);
    void OnAbout();

    // Song lists: the library's songs of one kind (the medley list: native medley songs and
    // UltraStar songs with medley bounds; the single list: the other native songs and every
    // UltraStar song), sorted, filtered by the search box.
    void FillSongList(bool medley);
    void ShowMedleyList();
    void ShowSingleList();
    // The search box's text changed: the list shows the songs whose artist and title (or name)
    // hold every word typed, case and accents aside.
    void OnSearchChanged();
    // The list's order (kept in the settings), chosen beside the search box.
    void OnOrderChosen(library::SongOrder order);
    library::SongOrder Order() const { return m_order; }
    // The highlighted song's cover and details beside the list: in the chosen-songs panel below
    // the single song's box, or in the strip below the lists for a medley (its four boxes stay).
    CSongDetailsPanel* DetailsPanel() const { return m_pDetails; }
    CCoverLoader* Covers() const { return m_pCovers; }
    // The song in a box (0..3; the single-song list uses box 1): the entry picked from the list,
    // else the song of the list with the name typed, else the bundled library's song folder of
    // that name; empty when the box is.
    engine::SongRef PickedSong(int box) const;
    // The library (the bundled folders and the user's) and whether the list shows its latest
    // entries with no scan pending.
    const library::CSongLibrary& Library() const { return m_library; }
    bool IsSongListCurrent() const;
    // The user's song folders changed: the library searches the new set.
    void OnLibraryFoldersChanged();

    // The review of the song just sung ("回顾" on the score dialog), over the stage; its buttons
    // play a line's take or its reference melody and practise a line.
    void OnReview();
    void OnHearTake(std::size_t song, int line);
    void OnHearReference(std::size_t song, int line);
    // Practises a line of the song reviewed: attempt after attempt on the singing screen, each
    // attempt's score added to a small list and its picture shown, until the stop button, which
    // goes back to the review.
    void OnPractiseLine(std::size_t song, int line);
    // Practises a line of a song of the list (its context menu's "练习一句…"), picked from the
    // song's lines; the line is judged as a song's first would be. Stop goes back to the list.
    void OnPractiseFromList(const engine::SongRef& song);
    void StartPractice(const engine::SongRef& song, int line,
                       std::optional<engine::LineCarry> carry, bool fromReview);
    CReviewPage* ReviewPage() const { return m_pReviewPage; }
    // What the last song or medley recorded for its review, and the scores of the practice.
    const engine::CSessionRecord& Record() const { return m_record; }
    const std::vector<float>& PracticeScores() const { return m_practiceScores; }
    QLabel* PracticePanel() const { return m_practiceWords; }
    QLabel* PracticePicture() const { return m_practicePicture; }

    // The singer's history: where it is kept (the user's data folder unless set before
    // OnInitDialog), the scores the song list shows, and a wait for what was posted to it.
    void SetHistoryPath(const std::string& path) { m_strHistoryPath = path; }
    history::CHistoryService* History() const { return m_pHistory.get(); }
    const std::map<std::string, history::SongScores>& SongScores() const { return m_songScores; }
    // Asks the history for the list's scores again; they show when they come.
    void RefreshSongScores();
    // Shows a song's history page (over the stage) once the history has found its attempts: by
    // its hash, or, without one, by the folder it was last sung from.
    void OnShowHistory(const engine::SongRef& song, const std::string& hash);
    CHistoryPage* HistoryPage() const { return m_pHistoryPage; }

    // Session routines: the session stops, and the screen of a session is cleared.
    void EndSession();
    void ClearGrade();

    // engine::CSessionView
    void SetGradeText(const std::string& text) override;
    int DisplayHeight() override { return m_rcDisplay.height(); }
    void SetPitchMarker(int y, int nearFlag, int hitFlag, int farFlag) override;
    void SetLineBarPos(int position) override { m_lineBar.SetPos(position); }
    void SetTimeBarPos(int seconds) override { m_timeBar.SetPos(seconds); }
    void UpdateControls() override {}
    void OnLineScored(const engine::LineReport& report) override;
    void OnBufferJudged(const engine::BufferReport& report) override;
    void OnLineBegun(const engine::LineCarry& carry) override;
    void OnLineAudio(int line, const int16_t* samples, int count) override;
    void PracticeAttemptStarted(int attempt, int fromMs) override;
    void PracticeAttemptScored(int attempt, float score) override;
    void SongLoaded(int index, const engine::SongRef& ref,
                    const std::shared_ptr<const engine::CSong>& song) override;
    void AccompanimentStarted(int lengthMs) override;
    void ShowScore() override;
    void SetScore(float score) override;
    void SessionEnded(const engine::Problem* problem) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;

private:
    void CreateControls();
    // Makes and opens the capture device the settings name; first: the engine's own messages.
    bool OpenMicrophone(bool first);
    void CloseMicrophone();
    void Show(std::initializer_list<int> ids, bool visible);
    QString BoxText(int id) const;
    void SetBoxText(int id, const QString& text);
    void SetCaption(bool caption);
    void ShowPage(bool help);
    // Paints the controls by the colour rules (OnCtlColor): all of them, or one.
    void ApplyControlColours();
    void ApplyControlColours(int id);
    // After a song that could not be sung: back to the song list, the names kept.
    void ReturnToList();
    // The singing screen's controls (display, bars, grade, stop), shown or hidden.
    void ShowSingingScreen(bool visible);
    void ShowPracticePanel(bool visible);
    // The practice's line and the score of each attempt so far.
    void ShowPracticeScores();
    int RoleOffset() const { return m_session.Engine().HighOffset() ? 120 : 80; }
    // Where the engine's reports go now: the song's record, or a practice attempt's.
    engine::CSessionRecord& Recording();
    // Keeps the run just finished (each song of it) or a practice attempt in the history.
    // A history entry for a song just sung: its identity, the time, the role and the level.
    history::Attempt NewAttempt(const engine::SongRecord& song) const;
    void KeepRun(float finalScore);
    void KeepAttempt(float score);
    void KeepInHistory(std::vector<history::Attempt> run);
    // The list screen of the current kind from the start: no search, the library's songs,
    // and a scan for what changed meanwhile.
    void ListAnew();
    // The library published new entries (on this window's thread).
    void OnLibraryChanged();
    // The details panel follows the list's current song.
    void UpdateDetails();

    Devices m_devices;
    engine::CSingingSession m_session;
    library::CSongLibrary m_library;
    std::shared_ptr<const std::vector<library::SongEntry>> m_pSongEntries;  // the library's
    unsigned m_nSongGeneration = 0;    // the library's change they are
    std::vector<int> m_listEntries;    // the entries of the list shown, by index, in order
    std::vector<QString> m_listHints;  // for each of them, what tells it from songs of its name
    std::array<engine::SongRef, 4> m_pickedSongs;  // what each box got from the list

    QIcon m_hIcon;
    QCursor m_hHandCursor;
    int m_nScreen = 0;
    int m_pBackgrounds[10] = {res::kBitmapHome, res::kBitmapSongList, res::kBitmapScore,
                              res::kBitmapCard};
    std::array<int, 4> m_pSongEdits = ids::kSongBoxes;
    QFont m_fontGrade;
    QFont m_fontLink;
    QWidget* m_pGradeLabel = nullptr;
    QRect m_rcDisplay;
    bool m_bFirstStart = true;
    bool m_bDisplayUp = false;
    bool m_bScoreShown = false;
    bool m_bLoadHelp = true;
    bool m_bMedleyList = true;
    bool m_bSingleList = true;
    int m_nListCount = 0;
    int m_nSongLength = 0;
    bool m_bInitialised = false;
    bool m_bMicrophone = false;    // the capture device is open
    bool m_bKeySelection = false;  // the song list's selection last moved by a key

    // Controls.
    CHistogramCtrl m_display;
    CIconProgress m_lineBar;
    CIconProgress m_timeBar;
    QListWidget* m_listSongs = nullptr;
    QLineEdit* m_editSearch = nullptr;
    QComboBox* m_orderChoice = nullptr;
    library::SongOrder m_order = library::SongOrder::Name;
    CCoverLoader* m_pCovers = nullptr;
    CSongDetailsPanel* m_pDetails = nullptr;
    CHyperLink* m_link = nullptr;
    CBitButtonNL* m_btnStart = nullptr;
    CBitButtonNL* m_btnSettings = nullptr;
    CBitButtonNL* m_btnHelp = nullptr;
    CBitButtonNL* m_btnExit = nullptr;
    CButtonST* m_btnConfirm = nullptr;
    CButtonST* m_btnHome = nullptr;
    CButtonST* m_btnListBack = nullptr;
    CButtonST* m_btnStop = nullptr;
    CButtonST* m_btnClear[4] = {};
    CPictureEx* m_picSingles = nullptr;
    CPictureEx* m_picMedleys = nullptr;
    CPictureEx* m_picStage = nullptr;
    QRadioButton* m_radioBoy = nullptr;
    QRadioButton* m_radioGirl = nullptr;
    CPillChoice* m_levelChoice = nullptr;
    CScoreDlg* m_pScoreDlg = nullptr;
    CReviewPage* m_pReviewPage = nullptr;
    CHistoryPage* m_pHistoryPage = nullptr;
    QLabel* m_practiceWords = nullptr;    // the practice's attempts and their scores
    QLabel* m_practicePicture = nullptr;  // the last attempt's picture

    // The review: what the last song or medley recorded, its final score, and what plays a
    // line's take or reference melody.
    engine::CSessionRecord m_record;
    float m_fFinalScore = 0.0f;
    std::unique_ptr<platform::CClickPlayer> m_pLinePlayer;
    // A practice: the record of the attempt being sung, and the scores so far.
    engine::CSessionRecord m_attempt;
    std::vector<float> m_practiceScores;
    std::size_t m_nPractiseSong = 0;
    int m_nPractiseLine = 0;
    bool m_bPractising = false;         // from a practice's start until its stop
    bool m_bPractiseFromReview = true;  // else from the song list
    // The history, on its own thread, and what it last told of the songs' scores.
    std::string m_strHistoryPath;
    std::unique_ptr<history::CHistoryService> m_pHistory;
    std::size_t m_nHistoryWaiting = 0;  // attempts the history could not write yet
    bool m_bHistoryWaitSaid = false;    // the singer was told why
    std::map<std::string, history::SongScores> m_songScores;
    CIntroduceDlg* m_pIntroDlg = nullptr;
};
