#include "app/quorveldlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>
#include <QWindow>

#include <cstdio>
#include <iterator>
#include <optional>

#include "app/aboutdlg.h"
#include "app/audiosettings.h"
#include "app/judgingsettings.h"
#include "app/librarysettings.h"
#include "app/listsettings.h"
#include "app/songlistdelegate.h"
#include "display/fonts.h"
#include "display/historypage.h"
#include "display/lineplot.h"
#include "engine/inputmonitor.h"
#include "engine/judginglevel.h"
#include "engine/referencemelody.h"
#include "engine/songfolder.h"
#include "engine/songloader.h"
#include "history/songhash.h"
#include "library/libraryroot.h"
#include "library/searchfold.h"
#include "library/songhints.h"
#include "platform/accompanimentplayer.h"
#include "platform/clickplayer.h"
#include "platform/messages.h"
#include "platform/portaudiocapture.h"
#include "res/resources.h"

namespace {

constexpr const char* kDownloadPage = "https://quorvel.example.org/songs";
// The text of a listed song that cannot be sung: grey, as a control that cannot be used.
constexpr QRgb kUnsingableText = qRgb(150, 150, 150);

// Dialog units are two pixels each way.
QRect Units(int x, int y, int w, int h) { return QRect(2 * x, 2 * y, 2 * w, 2 * h); }

// The song details: in the single-song list, over the chosen-songs panel's lower part (its
// boxes 3 and 4, unused there); in the medley list, in the strip between the round buttons at
// the foot, over the hint, above the level.
const QRect kSingleDetails(358, 332, 236, 138);
const QRect kMedleyDetails(134, 484, 532, 56);

const char* OrderCaption(library::SongOrder order) {
    switch (order) {
        case library::SongOrder::Name:
            return "按名称";
        case library::SongOrder::Title:
            return "按歌名";
        case library::SongOrder::Artist:
            return "按歌手";
        case library::SongOrder::Language:
            return "按语言";
        case library::SongOrder::Year:
            return "按年份";
        case library::SongOrder::Recent:
            return "最近唱过";
    }
    return "";
}

}  // namespace

CQuorvelDlg::CQuorvelDlg(Devices devices)
    : QDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_devices(std::move(devices)),
      m_session(
          *this,
          [this](std::function<void()> step) {
              // Posted from any thread; runs on this window's thread, one step at a time.
              QMetaObject::invokeMethod(this, std::move(step), Qt::QueuedConnection);
          },
          [this] {
              return m_devices.makePlayer ? m_devices.makePlayer()
                                          : std::unique_ptr<platform::CPlayer>();
          },
          /*pollThread=*/true),
      m_hIcon(res::LoadIcon(res::kIconApp)),
      m_hHandCursor(res::LoadCursor(res::kCursorHand)) {
    if (!m_devices.makeCapture)
        m_devices.makeCapture = [] {
            return std::make_unique<platform::CPortAudioCapture>(CAudioSettings::Load().strDevice);
        };
    if (!m_devices.listInputs)
        m_devices.listInputs = &platform::CPortAudioCapture::InputDeviceNames;
    if (!m_devices.makeClicks)
        m_devices.makeClicks = [] { return std::make_unique<platform::CClickPlayer>(); };
    if (!m_devices.makePlayer)
        m_devices.makePlayer = [] { return std::make_unique<platform::CAccompanimentPlayer>(); };
    display::InstallFontSubstitutions();
    setFont(display::MakeFont(QStringLiteral("宋体"), 24));
    setWindowTitle(QString());
    setFixedSize(800, 600);
    setMouseTracking(true);
    m_display.SetSongSource([this] { return m_session.CurrentSong(); });
    // The display runs on the playing accompaniment's clock; between songs there is none.
    m_display.SetClock([this] { return m_session.PlayerPosition(); });
    CreateControls();
    qApp->installEventFilter(this);
    // The song-name boxes show the background except the one being typed into.
    // The colours follow the keyboard focus and whether this window is in front.
    connect(qApp, &QApplication::focusChanged, this, [this] { ApplyControlColours(); });
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this] { ApplyControlColours(); });
    ApplyControlColours();
}

void CQuorvelDlg::ApplyControlColours() {
    for (int id : {ids::kHiddenArea, ids::kGradeLabel, ids::kDisplayArea, ids::kRoleBoy,
                   ids::kRoleGirl, ids::kSongBox1, ids::kSongBox2, ids::kSongBox3, ids::kSongBox4})
        ApplyControlColours(id);
}

void CQuorvelDlg::ApplyControlColours(int id) {
    QWidget* control = id == ids::kGradeLabel && m_pGradeLabel ? m_pGradeLabel : Control(id);
    if (!control) return;
    const ControlColours colours = OnCtlColor(id);
    const QPalette standard = QApplication::palette(control);
    QPalette palette = control->palette();
    palette.setColor(QPalette::WindowText,
                     colours.text.isValid() ? colours.text : standard.color(QPalette::WindowText));
    palette.setColor(QPalette::Text,
                     colours.text.isValid() ? colours.text : standard.color(QPalette::Text));
    if (colours.bDefault) {
        palette.setColor(QPalette::Base, standard.color(QPalette::Base));
        palette.setColor(QPalette::Window, standard.color(QPalette::Window));
    } else {
        // A solid brush fills the control; a hollow one lets the dialog's background show.
        const QColor brush = colours.brush.isValid() ? colours.brush : QColor(Qt::transparent);
        palette.setColor(QPalette::Base, brush);
        palette.setColor(QPalette::Window, brush);
    }
    control->setAutoFillBackground(!colours.bDefault && colours.brush.isValid());
    if (control->palette() != palette) control->setPalette(palette);
}

CQuorvelDlg::~CQuorvelDlg() {
    // The focus moves while the controls are taken apart: the colours are not looked after any
    // more (a control found among half-destroyed children would crash the program on exit).
    disconnect(qApp, nullptr, this, nullptr);
    m_pHistory.reset();  // what was posted to it is kept; nothing comes back from it any more
    m_library.Stop();    // no change of the library is posted to this window any more
    qApp->removeEventFilter(this);
    EndSession();
    m_session.CloseCapture();
}

QWidget* CQuorvelDlg::Control(int id) const { return findChild<QWidget*>(QString::number(id)); }

void CQuorvelDlg::CreateControls() {
    auto name = [](QWidget* widget, int id) {
        widget->setObjectName(QString::number(id));
        return widget;
    };
    auto label = [&](int id, const QString& text, const QRect& rect, Qt::Alignment align) {
        auto* widget = new QLabel(text, this);
        name(widget, id)->setGeometry(rect);
        widget->setAlignment(align);
        return widget;
    };
    auto iconButton = [&](int id, const QRect& rect) {
        auto* button = new CButtonST(this);
        name(button, id)->setGeometry(rect);
        return button;
    };
    auto bitmapButton = [&](int id, const QString& caption, const QRect& rect) {
        auto* button = new CBitButtonNL(caption, this);
        name(button, id)->setGeometry(rect);
        button->Attach();
        return button;
    };

    auto* placeholder =
        label(ids::kDisplayArea, QString(), Units(0, 244, 400, 55), Qt::AlignCenter);
    placeholder->setFrameShape(QFrame::Box);
    auto* line = label(ids::kLineBar, QString(), Units(29, 223, 72, 12), Qt::AlignLeft);
    line->setFrameShape(QFrame::Box);
    auto* grade =
        label(ids::kGradeLabel, QStringLiteral(" "), Units(101, 223, 72, 12), Qt::AlignCenter);
    grade->setFrameShape(QFrame::Box);
    label(ids::kHiddenArea, QString(), Units(121, 102, 192, 77), Qt::AlignLeft);

    m_link = new CHyperLink(QStringLiteral("更多歌曲下载请点击.....      "), this);
    name(m_link, ids::kDownloadLink)->setGeometry(Units(275, 224, 125, 9));
    m_link->setAlignment(Qt::AlignRight | Qt::AlignTop);

    auto* fullScreen = new QCheckBox(QStringLiteral("全屏演唱"), this);  // never shown
    name(fullScreen, ids::kFullScreenCheck)->setGeometry(Units(168, 58, 45, 20));
    fullScreen->hide();

    m_btnStart =
        bitmapButton(ids::kStartButton, QStringLiteral("开始演唱"), Units(141, 94, 92, 20));
    m_btnSettings =
        bitmapButton(ids::kSettingsButton, QStringLiteral("麦克风设置"), Units(141, 131, 92, 20));
    m_btnHelp = bitmapButton(ids::kHelpButton, QStringLiteral("帮助"), Units(141, 170, 92, 20));
    m_btnExit = bitmapButton(ids::kExitButton, QStringLiteral("退出"), Units(141, 207, 92, 20));
    connect(m_btnStart, &QPushButton::clicked, this, [this] { OnStartSinging(); });
    connect(m_btnSettings, &QPushButton::clicked, this, [this] { OnSettingsPage(); });
    connect(m_btnHelp, &QPushButton::clicked, this, [this] { OnHelpPage(); });
    connect(m_btnExit, &QPushButton::clicked, this, [this] { OnExit(); });

    // The song list's panel takes the left of the screen, wide enough for "Artist - Title" with
    // a score beside it; the search box takes the top of the list's place.
    m_editSearch = new QLineEdit(this);
    name(m_editSearch, ids::kSongSearch)->setGeometry(Units(11, 103, 102, 14));
    m_editSearch->setPlaceholderText(QStringLiteral("搜索歌手或歌名"));
    m_editSearch->setClearButtonEnabled(true);
    m_editSearch->setFont(display::MakeFont(QStringLiteral("宋体"), 20));
    m_editSearch->hide();
    connect(m_editSearch, &QLineEdit::textChanged, this, [this] { OnSearchChanged(); });
    // The list's order, beside the search box.
    m_orderChoice = new QComboBox(this);
    m_orderChoice->setObjectName(QStringLiteral("songOrder"));
    m_orderChoice->setGeometry(Units(115, 103, 48, 14));
    m_orderChoice->setFont(display::MakeFont(QStringLiteral("宋体"), 16));
    for (const library::SongOrder order : library::kSongOrders)
        m_orderChoice->addItem(QString::fromUtf8(OrderCaption(order)));
    m_orderChoice->hide();
    connect(m_orderChoice, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < static_cast<int>(std::size(library::kSongOrders)))
            OnOrderChosen(library::kSongOrders[index]);
    });
    // Covers are decoded on a thread of the loader's; a row repaints when its picture comes.
    m_pCovers = new CCoverLoader(this);
    m_listSongs = new QListWidget(this);
    auto* delegate = new CSongListDelegate(m_listSongs);
    delegate->SetCovers(m_pCovers);
    m_listSongs->setItemDelegate(delegate);
    name(m_listSongs, ids::kSongList)->setGeometry(Units(11, 118, 152, 115));
    m_listSongs->setFont(display::MakeFont(QStringLiteral("宋体"), 20));
    m_listSongs->setUniformItemSizes(true);
    // A name longer than the list is cut short with "…"; its tooltip gives it whole.
    m_listSongs->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_listSongs->setTextElideMode(Qt::ElideRight);
    // A song is picked by the user's selection: a click on an entry (the highlighted one too, so
    // that the same song goes into several boxes), or a key that selects one. Tabbing into the
    // list only moves the focus there.
    connect(m_listSongs, &QListWidget::itemClicked, this, [this] { OnSongPicked(); });
    connect(m_listSongs, &QListWidget::itemSelectionChanged, this, [this] {
        if (m_bKeySelection) OnSongPicked();
    });
    connect(m_listSongs, &QListWidget::currentItemChanged, this, [this] { UpdateDetails(); });
    m_pDetails = new CSongDetailsPanel(*m_pCovers, this);
    m_pDetails->setObjectName(QStringLiteral("songDetails"));
    m_pDetails->setGeometry(kSingleDetails);
    m_pDetails->hide();
    m_pCovers->SetReadyHandler([this](const QString& path, int) {
        m_listSongs->viewport()->update();
        m_pDetails->OnCoverReady(path);
    });

    const int boxTops[4] = {113, 147, 177, 208};
    for (int i = 0; i < 4; ++i) {
        auto* box = new QLineEdit(this);
        name(box, m_pSongEdits[i])->setGeometry(Units(198, boxTops[i], 76, 14));
    }

    m_btnConfirm = iconButton(ids::kConfirmButton, Units(338, 240, 62, 59));
    m_btnHome = iconButton(ids::kHomeButton, Units(1, 240, 62, 59));
    m_btnClear[0] = iconButton(ids::kClearButton1, Units(281, 112, 15, 14));
    for (int i = 1; i < 4; ++i)
        m_btnClear[i] = iconButton(ids::kClearButtons[i], Units(281, boxTops[i], 16, 11));
    m_btnListBack = iconButton(ids::kListBackButton, Units(1, 240, 62, 59));
    m_btnStop = iconButton(ids::kStopButton, Units(0, 222, 28, 15));
    connect(m_btnConfirm, &QPushButton::clicked, this, [this] { OnConfirm(); });
    connect(m_btnHome, &QPushButton::clicked, this, [this] { OnHome(); });
    connect(m_btnListBack, &QPushButton::clicked, this, [this] { OnListBack(); });
    connect(m_btnStop, &QPushButton::clicked, this, [this] { OnStopSinging(); });
    for (int i = 0; i < 4; ++i)
        connect(m_btnClear[i], &QPushButton::clicked, this, [this, i] { OnClearSong(i); });

    auto* ok = new QPushButton(QStringLiteral("确定"), this);  // never shown
    name(ok, ids::kOkButton)->setGeometry(Units(342, 285, 58, 14));

    auto* timeBar =
        label(ids::kTimeBar, QStringLiteral("Progress1"), Units(0, 235, 400, 9), Qt::AlignLeft);
    timeBar->setFrameShape(QFrame::Box);

    auto picture = [&](int id, const QRect& rect) {
        auto* control = new CPictureEx(this);
        name(control, id)->setGeometry(rect);
        // A picture is not clickable: clicks reach the dialog.
        control->setAttribute(Qt::WA_TransparentForMouseEvents);
        return control;
    };
    m_picSingles = picture(ids::kSinglesPicture, Units(233, 83, 20, 20));
    m_picMedleys = picture(ids::kMedleysPicture, Units(55, 81, 20, 20));
    m_picStage = picture(ids::kStageAnimation, Units(0, 0, 20, 20));
    m_picStage->lower();

    m_radioBoy = new QRadioButton(this);
    name(m_radioBoy, ids::kRoleBoy)->setGeometry(Units(333, 118, 58, 46));
    m_radioGirl = new QRadioButton(this);
    name(m_radioGirl, ids::kRoleGirl)->setGeometry(Units(333, 173, 58, 43));
    connect(m_radioBoy, &QRadioButton::clicked, this, [this] { OnRoleBoy(); });
    connect(m_radioGirl, &QRadioButton::clicked, this, [this] { OnRoleGirl(); });

    QStringList levels;
    for (const engine::JudgingLevel level : engine::kJudgingLevels)
        levels.append(QString::fromUtf8(engine::JudgingLevelCaption(level)));
    m_levelChoice = new CPillChoice(this, QStringLiteral("评分"), levels);
    // Between the two round buttons at the foot of the list screen.
    name(m_levelChoice, ids::kLevelChoice)->setGeometry(Units(147, 272, 106, 14));
    m_levelChoice->onChosen = [this](int index) { OnLevelChosen(index); };
}

bool CQuorvelDlg::OnInitDialog() {
    // The about item lives in the dialog's own context menu (see contextMenuEvent).
    m_pGradeLabel = Control(ids::kGradeLabel);
    m_fontGrade = display::MakeFont(QStringLiteral("Arial"), 23, 0, 900);
    m_fontLink = display::MakeFont(QStringLiteral("楷体_GB2312"), 18, 0, 900);
    setWindowIcon(m_hIcon);

    // The history opens on its own thread; what it has to say reaches this window's thread.
    m_pHistory = std::make_unique<history::CHistoryService>(
        m_strHistoryPath.empty() ? history::CHistoryStore::DefaultPath() : m_strHistoryPath,
        [this](bool, const std::string& notice) {
            if (notice.empty()) return;
            QMetaObject::invokeMethod(
                this,
                [notice] { platform::ShowMessage(notice, platform::MessageIcon::Exclamation); },
                Qt::QueuedConnection);
        });
    RefreshSongScores();

    if (!OpenMicrophone(true))
        platform::ShowMessage("打开录音设备出错！", platform::MessageIcon::None, "警告");
    // Without a microphone the window is still built whole; 开始演唱 then leads to the settings.

    m_rcDisplay = Control(ids::kDisplayArea)->geometry();
    m_link->SetTarget(QString::fromLatin1(kDownloadPage));
    m_link->Attach();
    m_link->setFont([this] {
        QFont font = m_fontLink;
        font.setUnderline(true);
        return font;
    }());
    // The dialog decides the link's colour: black, whatever its state.
    m_link->SetLinkColours(Qt::black, Qt::black, Qt::black);

    Show({ids::kLineBar,        ids::kDisplayArea,  ids::kHiddenArea,   ids::kHomeButton,
          ids::kGradeLabel,     ids::kDownloadLink, ids::kSongList,     ids::kSongBox1,
          ids::kSongBox2,       ids::kSongBox3,     ids::kSongBox4,     ids::kConfirmButton,
          ids::kListBackButton, ids::kOkButton,     ids::kClearButton1, ids::kClearButton2,
          ids::kClearButton3,   ids::kClearButton4, ids::kStopButton,   ids::kTimeBar,
          ids::kRoleBoy,        ids::kRoleGirl},
         false);

    const int faces[4][2] = {{res::kBitmapStart, res::kBitmapStartHover},
                             {res::kBitmapSettings, res::kBitmapSettingsHover},
                             {res::kBitmapHelp, res::kBitmapHelpHover},
                             {res::kBitmapExit, res::kBitmapExitHover}};
    CBitButtonNL* buttons[4] = {m_btnStart, m_btnSettings, m_btnHelp, m_btnExit};
    for (int i = 0; i < 4; ++i) {
        buttons[i]->LoadImages(faces[i][0], 0, faces[i][1], 0);
        buttons[i]->FitToImage();
    }

    if (m_picSingles->Load(res::kGifSingles, "GIF")) m_picSingles->Draw();
    if (m_picMedleys->Load(res::kGifMedleys, "GIF")) m_picMedleys->Draw();
    m_radioBoy->setChecked(true);
    m_order = CListSettings::Load().order;
    m_orderChoice->setCurrentIndex(static_cast<int>(m_order));
    const engine::JudgingLevel level = CJudgingSettings::Load().level;
    m_session.SetJudgingLevel(level);
    m_levelChoice->Choose(static_cast<int>(level));
    Show({ids::kStageAnimation, ids::kMedleysPicture, ids::kSinglesPicture}, false);

    auto skin = [](CButtonST* button, int icon) {
        button->LoadIcons(icon, 0);
        button->ShowBorder(false, true);
        button->SetTransparent(true);
    };
    for (CButtonST* clear : m_btnClear) skin(clear, res::kIconClear);
    skin(m_btnHome, res::kIconBack);
    skin(m_btnConfirm, res::kIconPlay);
    skin(m_btnListBack, res::kIconBack);

    m_pScoreDlg = new CScoreDlg(this);
    m_pScoreDlg->CreateModeless();
    m_pScoreDlg->SetReview([this] { OnReview(); });
    m_pReviewPage = new CReviewPage(this);
    m_pReviewPage->hide();
    m_pReviewPage->SetHearTake([this](std::size_t song, int line) { OnHearTake(song, line); });
    m_pReviewPage->SetHearReference(
        [this](std::size_t song, int line) { OnHearReference(song, line); });
    m_pReviewPage->SetPractise([this](std::size_t song, int line) { OnPractiseLine(song, line); });
    m_pReviewPage->SetClose([this] {
        if (m_pLinePlayer) m_pLinePlayer->Stop();
        m_pReviewPage->hide();
    });
    m_pReviewPage->SetHistory([this](std::size_t song) {
        if (song < m_record.Songs().size() && m_record.Songs()[song].song)
            OnShowHistory(m_record.Songs()[song].ref,
                          history::SongHash(*m_record.Songs()[song].song));
    });
    m_pHistoryPage = new CHistoryPage(this);
    m_pHistoryPage->hide();
    m_pHistoryPage->SetClose([this] { m_pHistoryPage->hide(); });
    // A song's history from the list: its context menu.
    m_listSongs->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listSongs, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QListWidgetItem* item = m_listSongs->itemAt(at);
        if (!item || !m_pSongEntries) return;
        const auto index = static_cast<std::size_t>(item->data(Qt::UserRole).toInt());
        if (index >= m_pSongEntries->size()) return;
        const engine::SongRef ref = (*m_pSongEntries)[index].Ref();
        QMenu menu(this);
        menu.addAction(QStringLiteral("历史成绩"), this, [this, ref] { OnShowHistory(ref, {}); });
        menu.addAction(QStringLiteral("练习一句…"), this, [this, ref] { OnPractiseFromList(ref); });
        menu.exec(m_listSongs->viewport()->mapToGlobal(at));
    });
    m_practiceWords = new QLabel(this);
    m_practiceWords->setObjectName(QStringLiteral("practiceWords"));
    m_practiceWords->setGeometry(16, 12, 200, 220);
    m_practiceWords->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_practiceWords->setFont(display::MakeFont(QStringLiteral("黑体"), 16));
    m_practiceWords->setStyleSheet(
        QStringLiteral("background: rgba(250, 246, 255, 220); color: rgb(64, 32, 96); padding: 6px;"
                       " border-radius: 8px;"));
    m_practiceWords->hide();
    m_practicePicture = new QLabel(this);
    m_practicePicture->setObjectName(QStringLiteral("practicePicture"));
    m_practicePicture->setGeometry(228, 12, CReviewPage::kPictureWidth,
                                   CReviewPage::kPictureHeight);
    m_practicePicture->hide();
    m_pIntroDlg = new CIntroduceDlg(this);
    m_pIntroDlg->CreateModeless(
        {m_devices.makeCapture, m_devices.listInputs, m_devices.makeClicks});
    // The settings page listens to the microphone itself; the window's device opens again (with
    // the device chosen there) once the page's stream is closed.
    m_pIntroDlg->Microphone()->SetClosedHandler([this] { OpenMicrophone(false); });
    // The song library: the cached list at once, then a scan, on the library's own thread; each
    // change comes back to this window's thread.
    m_library.SetChangedHandler([this] {
        QMetaObject::invokeMethod(
            this, [this] { OnLibraryChanged(); }, Qt::QueuedConnection);
    });
    m_pIntroDlg->LibraryFolders()->SetChangedHandler([this] { OnLibraryFoldersChanged(); });
    OnLibraryFoldersChanged();
    m_bInitialised = true;
    return true;
}

bool CQuorvelDlg::OpenMicrophone(bool first) {
    CloseMicrophone();
    m_session.SetCaptureDevice(m_devices.makeCapture());
    // The first time with the session's own message; afterwards 开始演唱 tells what is missing.
    if (const std::optional<engine::Problem> problem = m_session.OpenCapture()) {
        if (first) problem->Show();
        return false;
    }
    m_bMicrophone = true;
    const auto* portAudio =
        dynamic_cast<const platform::CPortAudioCapture*>(m_session.CaptureDevice());
    if (portAudio && portAudio->FellBack()) {
        platform::Trace("capture device: " + portAudio->FallbackReason() + "\n");
        CAudioSettings settings = CAudioSettings::Load();
        settings.strDevice.clear();  // the default from now on: told once
        settings.Save();
        platform::ShowMessage(
            "录音设备“" + portAudio->DeviceName() + "”已不可用，改用默认录音设备。",
            platform::MessageIcon::Exclamation);
    }
    return true;
}

void CQuorvelDlg::CloseMicrophone() {
    m_session.CloseCapture();
    m_bMicrophone = false;
}

void CQuorvelDlg::Show(std::initializer_list<int> ids, bool visible) {
    for (int id : ids)
        if (QWidget* control = Control(id)) control->setVisible(visible);
    // The search box comes and goes with the song list, the judging level with the roles.
    for (int id : ids) {
        if (id == ids::kSongList && m_editSearch) {
            m_editSearch->setVisible(visible);
            m_orderChoice->setVisible(visible);
            m_pDetails->setVisible(visible && m_pDetails->HasSong());
        }
        if (id == ids::kRoleBoy && m_levelChoice) m_levelChoice->setVisible(visible);
    }
}

QString CQuorvelDlg::BoxText(int id) const {
    auto* box = qobject_cast<QLineEdit*>(Control(id));
    return box ? box->text() : QString();
}

void CQuorvelDlg::SetBoxText(int id, const QString& text) {
    if (auto* box = qobject_cast<QLineEdit*>(Control(id))) box->setText(text);
}

bool CQuorvelDlg::HasCaption() const { return !(windowFlags() & Qt::FramelessWindowHint); }

void CQuorvelDlg::SetCaption(bool caption) {
    if (HasCaption() == caption) return;
    const bool visible = isVisible();
    setWindowFlag(Qt::FramelessWindowHint, !caption);
    if (visible) show();  // a change of frame hides the window
}

// ---------------------------------------------------------------------------------------------
// Painting, colours, keys, menu

void CQuorvelDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPixmap background = res::LoadBitmap(m_pBackgrounds[m_nScreen]);
    if (!background.isNull()) painter.drawPixmap(rect(), background, background.rect());
}

QColor CQuorvelDlg::GradeColour(const QString& text) {
    if (text == "Perfect") return QColor(255, 0, 0);
    if (text == "Great") return QColor(255, 0, 255);
    if (text == "Good") return QColor(255, 128, 0);
    if (text == "Poor") return QColor(0, 128, 0);
    return QColor(128, 128, 128);
}

CQuorvelDlg::ControlColours CQuorvelDlg::OnCtlColor(int id) const {
    ControlColours colours;
    if (QApplication::activeWindow() != this) {
        colours.bTransparent = true;
        return colours;
    }
    switch (id) {
        case ids::kHiddenArea:
            colours.bTransparent = true;
            return colours;
        case ids::kDownloadLink:
            colours.text = Qt::black;
            return colours;
        case ids::kGradeLabel:
            colours.bTransparent = true;
            colours.text = GradeColour(m_pGradeLabel ? static_cast<QLabel*>(m_pGradeLabel)->text()
                                                     : QString());
            colours.brush = Qt::black;
            return colours;
        case ids::kDisplayArea:
        case ids::kRoleBoy:
        case ids::kRoleGirl:
            colours.bTransparent = true;
            colours.text = Qt::black;
            return colours;
        case ids::kSongBox1:
        case ids::kSongBox2:
        case ids::kSongBox3:
        case ids::kSongBox4: {
            // A song-name box shows the background unless it has the keyboard focus.
            const QWidget* focus = QApplication::focusWidget();
            colours.bDefault = focus && focus == Control(id);
            colours.bTransparent = !colours.bDefault;
            return colours;
        }
        default:
            colours.bDefault = true;
            return colours;
    }
}

bool CQuorvelDlg::eventFilter(QObject* watched, QEvent* event) {
    // Whether the song list's next selection comes from a key (a pick then) or from the mouse
    // (the click picks, once the button is released).
    if (m_listSongs && event->type() == QEvent::KeyPress && watched == m_listSongs)
        m_bKeySelection = true;
    else if (m_listSongs && event->type() == QEvent::MouseButtonPress &&
             watched == m_listSongs->viewport())
        m_bKeySelection = false;
    // Space and Enter are swallowed before any control of this window sees them.
    if (event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        const int key = static_cast<QKeyEvent*>(event)->key();
        // The search box takes spaces: they separate the words searched for.
        if (widget && widget->window() == this &&
            ((key == Qt::Key_Space && widget != m_editSearch) || key == Qt::Key_Return ||
             key == Qt::Key_Enter))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CQuorvelDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter)
        return;
    QDialog::keyPressEvent(event);  // Escape ends the program
}

void CQuorvelDlg::contextMenuEvent(QContextMenuEvent* event) {
    const QString about = res::LoadString(res::kStringAbout);
    if (about.isEmpty()) return;
    QMenu menu(this);
    menu.addAction(about, this, [this] { OnAbout(); });
    menu.exec(event->globalPos());
}

void CQuorvelDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CQuorvelDlg::done(int result) {
    // However the dialog ends, nothing of a session is left running.
    EndSession();
    // Attempts still waiting for the history file are lost with the program: the singer is told.
    if (m_nHistoryWaiting > 0)
        platform::ShowMessage(
            std::to_string(m_nHistoryWaiting) + " 次成绩没能写进历史记录，程序关闭后就会丢失。",
            platform::MessageIcon::Exclamation);
    QDialog::done(result);
}

void CQuorvelDlg::OnExit() { accept(); }

// ---------------------------------------------------------------------------------------------
// Screens

void CQuorvelDlg::OnStartSinging() {
    if (m_bInitialised && !m_bMicrophone) {
        platform::ShowMessage("没有可用的麦克风。请在“麦克风设置”里选择一个能打开的录音设备。",
                              platform::MessageIcon::Exclamation);
        OnSettingsPage();
        return;
    }
    Show({ids::kStartButton, ids::kSettingsButton, ids::kHelpButton, ids::kExitButton,
          ids::kFullScreenCheck},
         false);
    Show({ids::kHomeButton}, true);
    m_nScreen = 3;
    Show({ids::kSinglesPicture, ids::kMedleysPicture}, true);
    update();
    if (m_bFirstStart) {
        m_lineBar.SubclassCreate(ids::kLineBar, this, res::kIconTomato, 4, QColor(0, 0, 0), 0);
        m_timeBar.SubclassCreate(ids::kTimeBar, this, res::kIconGirl, 5, QColor(0, 0, 0), 0);
        m_timeBar.SetPos(0);
        m_lineBar.SetRange(0, 100);
        m_bFirstStart = false;
    }
}

void CQuorvelDlg::OnHome() {
    Show({ids::kStartButton, ids::kSettingsButton, ids::kHelpButton, ids::kExitButton}, true);
    Show({ids::kFullScreenCheck, ids::kHomeButton, ids::kSinglesPicture, ids::kMedleysPicture},
         false);
    m_nScreen = 0;
    update();
}

void CQuorvelDlg::OnTypeChoiceClick(const QPoint& point) {
    if (m_nScreen != 3) return;
    const bool singles = Control(ids::kSinglesPicture)->geometry().contains(point);
    const bool medleys = !singles && Control(ids::kMedleysPicture)->geometry().contains(point);
    if (!singles && !medleys) return;
    Show({ids::kSinglesPicture, ids::kMedleysPicture}, false);
    Show({ids::kRoleBoy, ids::kRoleGirl}, true);
    if (singles)
        ShowSingleList();
    else
        ShowMedleyList();
}

void CQuorvelDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) OnTypeChoiceClick(event->position().toPoint());
    QDialog::mousePressEvent(event);
}

void CQuorvelDlg::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    const bool overPicture =
        m_nScreen == 3 && (Control(ids::kSinglesPicture)->geometry().contains(point) ||
                           Control(ids::kMedleysPicture)->geometry().contains(point));
    if (overPicture)
        setCursor(m_hHandCursor);
    else
        unsetCursor();
    QDialog::mouseMoveEvent(event);
}

void CQuorvelDlg::FillSongList(bool medley) {
    m_listEntries.clear();
    std::vector<const library::SongEntry*> listed;
    if (m_pSongEntries) {
        for (std::size_t i = 0; i < m_pSongEntries->size(); ++i)
            if ((*m_pSongEntries)[i].InList(medley)) m_listEntries.push_back(static_cast<int>(i));
        library::OrderSongs(
            m_listEntries, *m_pSongEntries, m_order, [this](const library::SongEntry& entry) {
                const auto found = m_songScores.find(entry.strFolder);
                return found == m_songScores.end() ? int64_t{0} : found->second.nLastMs;
            });
        for (const int index : m_listEntries)
            listed.push_back(&(*m_pSongEntries)[static_cast<std::size_t>(index)]);
    }
    // Songs of one name are told apart over the whole list, so that a search keeps their hints.
    m_listHints.clear();
    for (const std::string& hint : library::TellApart(listed))
        m_listHints.push_back(QString::fromStdString(hint));
    OnSearchChanged();
}

void CQuorvelDlg::OnSearchChanged() {
    const QStringList words = library::SearchWords(m_editSearch->text());
    // The entry shown as current stays so when it is still listed.
    const QListWidgetItem* current = m_listSongs->currentItem();
    const int currentEntry = current ? current->data(Qt::UserRole).toInt() : -1;
    m_listSongs->setUpdatesEnabled(false);
    m_listSongs->blockSignals(true);
    m_listSongs->clear();
    m_nListCount = 0;
    int currentRow = -1;
    // Ordered by artist, language or year, the first song of each group carries its name.
    const bool grouped = m_order == library::SongOrder::Artist ||
                         m_order == library::SongOrder::Language ||
                         m_order == library::SongOrder::Year;
    std::optional<std::string> lastGroup;
    for (std::size_t position = 0; position < m_listEntries.size(); ++position) {
        const int index = m_listEntries[position];
        const library::SongEntry& entry = (*m_pSongEntries)[static_cast<std::size_t>(index)];
        if (!library::MatchesWords(entry.searchKey, words)) continue;
        const QString name = QString::fromStdString(entry.strName);
        // A song that cannot be sung is listed greyed and marked, with its problem in the
        // tooltip; a song whose name another one has, with what tells it apart (its folder in
        // the tooltip); one sung before, with its best score (the last one in the tooltip).
        auto* item =
            new QListWidgetItem(entry.strProblem.empty() ? name : QStringLiteral("⚠ ") + name);
        item->setData(Qt::UserRole, index);
        if (!entry.strCover.empty())
            item->setData(CSongListDelegate::kCoverRole, QString::fromStdString(entry.strCover));
        if (grouped) {
            std::string group = library::SongGroup(entry, m_order);
            if (group != lastGroup) {
                item->setData(CSongListDelegate::kGroupRole, group.empty()
                                                                 ? QStringLiteral("其他")
                                                                 : QString::fromStdString(group));
                lastGroup = std::move(group);
            }
        }
        QStringList tip{name};
        if (const QString& hint = m_listHints[position]; !hint.isEmpty()) {
            item->setData(CSongListDelegate::kHintRole, hint);
            tip.append(QString::fromStdString(entry.strFolder));
        }
        if (const auto scores = m_songScores.find(entry.strFolder); scores != m_songScores.end()) {
            const QString best = QString::number(double(scores->second.fBest), 'f', 1);
            item->setData(CSongListDelegate::kScoresRole, QStringLiteral("最好 ") + best);
            tip.append(QStringLiteral("最好 %1 · 上次 %2")
                           .arg(best, QString::number(double(scores->second.fLast), 'f', 1)));
        }
        if (!entry.strProblem.empty()) {
            item->setForeground(QColor(kUnsingableText));
            tip.append(QString::fromStdString(entry.strProblem));
        }
        item->setToolTip(tip.join(QLatin1Char('\n')));
        m_listSongs->addItem(item);
        if (index == currentEntry) currentRow = m_nListCount;
        ++m_nListCount;
    }
    if (currentRow >= 0) m_listSongs->setCurrentRow(currentRow);
    m_listSongs->blockSignals(false);
    m_listSongs->setUpdatesEnabled(true);
    UpdateDetails();
}

void CQuorvelDlg::UpdateDetails() {
    const QListWidgetItem* item = m_listSongs->currentItem();
    const int index = item ? item->data(Qt::UserRole).toInt() : -1;
    const bool known =
        m_pSongEntries && index >= 0 && static_cast<std::size_t>(index) < m_pSongEntries->size();
    m_pDetails->SetSong(known ? &(*m_pSongEntries)[static_cast<std::size_t>(index)] : nullptr);
    m_pDetails->setGeometry(m_bMedleyList ? kMedleyDetails : kSingleDetails);
    m_pDetails->setVisible(known && !m_listSongs->isHidden());
    m_pDetails->raise();
}

void CQuorvelDlg::OnOrderChosen(library::SongOrder order) {
    m_order = order;
    m_orderChoice->setCurrentIndex(static_cast<int>(order));
    CListSettings settings;
    settings.order = order;
    settings.Save();
    FillSongList(m_bMedleyList);
    m_listSongs->scrollToTop();
}

void CQuorvelDlg::OnLibraryChanged() {
    const library::CSongLibrary::Snapshot snapshot = m_library.Current();
    m_pSongEntries = snapshot.entries;
    m_nSongGeneration = snapshot.nGeneration;
    // The list follows at once (shown or not: its rows index these entries); what was picked
    // into a box keeps its song.
    FillSongList(m_bMedleyList);
}

bool CQuorvelDlg::IsSongListCurrent() const {
    const library::CSongLibrary::Snapshot snapshot = m_library.Current();
    return snapshot.bIdle && snapshot.nGeneration == m_nSongGeneration;
}

void CQuorvelDlg::OnLibraryFoldersChanged() {
    std::vector<library::LibraryRoot> roots = library::BundledRoots("");
    for (const std::string& folder : CLibrarySettings::Load().folders)
        roots.push_back({folder, library::LibraryRoot::Kind::Collection});
    m_library.SetRoots(std::move(roots));
}

void CQuorvelDlg::ListAnew() {
    m_editSearch->blockSignals(true);
    m_editSearch->clear();
    m_editSearch->blockSignals(false);
    FillSongList(m_bMedleyList);
    m_library.Rescan();  // songs added, removed or changed meanwhile show when it ends
}

void CQuorvelDlg::ShowMedleyList() {
    m_nScreen = 1;
    Show({ids::kHomeButton}, false);
    Show({ids::kSongList, ids::kSongBox1, ids::kSongBox2, ids::kSongBox3, ids::kSongBox4,
          ids::kConfirmButton, ids::kListBackButton, ids::kClearButton1, ids::kClearButton2,
          ids::kClearButton3, ids::kClearButton4},
         true);
    m_bMedleyList = true;
    m_bSingleList = false;
    ListAnew();
    update();
}

void CQuorvelDlg::ShowSingleList() {
    m_nScreen = 1;
    Show({ids::kHomeButton}, false);
    Show({ids::kSongList, ids::kSingleSongBox, ids::kSingleClearButton, ids::kConfirmButton,
          ids::kListBackButton},
         true);
    m_bMedleyList = false;
    m_bSingleList = true;
    ListAnew();
    update();
}

void CQuorvelDlg::OnSongPicked() {
    const QListWidgetItem* item = m_listSongs->currentItem();
    if (!item || !m_pSongEntries) return;
    const int index = item->data(Qt::UserRole).toInt();
    if (index < 0 || static_cast<std::size_t>(index) >= m_pSongEntries->size()) return;
    const engine::SongRef song = (*m_pSongEntries)[static_cast<std::size_t>(index)].Ref();
    const QString name = QString::fromStdString(song.strName);
    if (m_bMedleyList) {
        for (std::size_t box = 0; box < m_pSongEdits.size(); ++box)
            if (BoxText(m_pSongEdits[box]).isEmpty()) {
                SetBoxText(m_pSongEdits[box], name);
                m_pickedSongs[box] = song;
                return;
            }
    } else if (BoxText(ids::kSingleSongBox).isEmpty()) {
        SetBoxText(ids::kSingleSongBox, name);
        m_pickedSongs[1] = song;
    }
}

engine::SongRef CQuorvelDlg::PickedSong(int box) const {
    if (box < 0 || box >= 4) return {};
    const std::string name = BoxText(m_pSongEdits[static_cast<std::size_t>(box)]).toStdString();
    if (name.empty()) return {};
    if (m_pickedSongs[static_cast<std::size_t>(box)].strName == name)
        return m_pickedSongs[static_cast<std::size_t>(box)];
    // Typed by hand: the list's song of that name, else the bundled folder of that name.
    if (m_pSongEntries)
        for (const library::SongEntry& entry : *m_pSongEntries)
            if (entry.InList(m_bMedleyList) && entry.strName == name) return entry.Ref();
    return {name, engine::SongFolderPath("", m_bMedleyList, name)};
}

void CQuorvelDlg::OnClearSong(int box) {
    if (box >= 0 && box < 4) {
        SetBoxText(m_pSongEdits[box], QString());
        m_pickedSongs[static_cast<std::size_t>(box)] = {};
    }
    // The same entry may be picked again at once.
    m_listSongs->blockSignals(true);
    m_listSongs->setCurrentRow(-1);
    m_listSongs->blockSignals(false);
}

void CQuorvelDlg::OnListBack() {
    m_nScreen = 3;
    Show({ids::kRoleBoy, ids::kRoleGirl}, false);
    Show({ids::kHomeButton, ids::kSinglesPicture, ids::kMedleysPicture}, true);
    Show({ids::kSongList, ids::kSingleSongBox, ids::kSingleClearButton, ids::kConfirmButton,
          ids::kListBackButton, ids::kOkButton},
         false);
    if (m_bMedleyList) {
        Show({ids::kSongBox1, ids::kSongBox3, ids::kSongBox4, ids::kClearButton1,
              ids::kClearButton3, ids::kClearButton4},
             false);
        for (int id : m_pSongEdits) SetBoxText(id, QString());
    } else {
        SetBoxText(ids::kSingleSongBox, QString());
    }
    update();
}

void CQuorvelDlg::OnRoleBoy() { m_session.SetHighOffset(true); }

void CQuorvelDlg::OnLevelChosen(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(engine::kJudgingLevels))) return;
    CJudgingSettings settings;
    settings.level = engine::kJudgingLevels[index];
    m_session.SetJudgingLevel(settings.level);
    if (!settings.Save()) platform::Trace("the judging level could not be saved\n");
}

void CQuorvelDlg::OnRoleGirl() { m_session.SetHighOffset(false); }

void CQuorvelDlg::ShowPage(bool help) {
    m_pIntroDlg->Microphone()->setVisible(!help);  // before the page shows: it opens a stream
    m_pIntroDlg->show();
    m_pIntroDlg->setGeometry(geometry());  // exactly over the main window
    m_pIntroDlg->Control(ids::kHelpList)->setVisible(help);
    m_pIntroDlg->Control(ids::kFolderHint)->setVisible(!help);
    m_pIntroDlg->Control(ids::kFolderButton)->setVisible(!help);
    m_pIntroDlg->LibraryFolders()->setVisible(!help);
    if (help && m_bLoadHelp) {
        m_pIntroDlg->LoadHelpText();
        m_bLoadHelp = false;
    }
}

void CQuorvelDlg::OnHelpPage() {
    if (m_pIntroDlg) ShowPage(true);
}

void CQuorvelDlg::OnSettingsPage() {
    if (!m_pIntroDlg) return;
    // The page's own stream listens to the microphone meanwhile (no session runs on this screen).
    if (!IsSessionRunning()) CloseMicrophone();
    ShowPage(false);
}

// ---------------------------------------------------------------------------------------------
// Sessions

void CQuorvelDlg::OnConfirm() {
    if (m_bMedleyList) {
        for (int id : m_pSongEdits)
            if (BoxText(id).isEmpty()) {
                platform::ShowMessage("请选择四首要演唱的歌曲", platform::MessageIcon::Information);
                return;
            }
    } else if (BoxText(ids::kSingleSongBox).isEmpty()) {
        platform::ShowMessage("请选择要演唱的歌曲", platform::MessageIcon::Information);
        update();
        return;
    }
    if (!m_bInitialised || !m_bMicrophone) return;  // nothing to sing with

    Show({ids::kDownloadLink, ids::kStageAnimation}, true);
    if (m_picStage->Load(m_radioBoy->isChecked() ? res::kGifStageBoy : res::kGifStageGirl, "GIF"))
        m_picStage->Draw();
    m_nScreen = 0;
    Show({ids::kLineBar, ids::kDisplayArea}, true);
    Show({ids::kHiddenArea}, false);
    Show({ids::kGradeLabel, ids::kStopButton, ids::kTimeBar}, true);
    Show({ids::kSongList, ids::kConfirmButton, ids::kListBackButton}, false);
    // The level is chosen between songs: its pills would peek out under the stage and change the
    // judging in the middle of a song.
    m_levelChoice->setVisible(false);
    if (m_bMedleyList)
        Show({ids::kSongBox1, ids::kSongBox2, ids::kSongBox3, ids::kSongBox4, ids::kClearButton1,
              ids::kClearButton2, ids::kClearButton3, ids::kClearButton4},
             false);
    else
        Show({ids::kSingleSongBox, ids::kSingleClearButton}, false);
    m_btnStop->LoadIcons(res::kIconStop, 0);
    m_btnStop->ShowBorder(false, true);
    m_btnStop->SetTransparent(true);
    update();

    SetCaption(false);
    // L: the user's, typed or calibrated, else what the open stream reports.
    m_session.SetLatencyMs(
        CAudioSettings::Load().LatencyMs(m_session.CaptureDevice()->InputLatencyMs()));
    std::vector<engine::SongRef> songs;
    if (m_bMedleyList)
        for (int box = 0; box < 4; ++box) songs.push_back(PickedSong(box));
    else
        songs.push_back(PickedSong(1));
    if (const std::optional<engine::Problem> problem = m_session.Start(songs, m_bMedleyList)) {
        // The song cannot be sung: back to the list, then the reason, with nothing running.
        EndSession();
        ReturnToList();
        problem->Show();
        return;
    }
    update();
}

void CQuorvelDlg::ReturnToList() {
    SetCaption(true);
    m_nScreen = 1;
    m_levelChoice->setVisible(m_radioBoy->isVisible());
    Show({ids::kStageAnimation, ids::kLineBar, ids::kDisplayArea, ids::kHiddenArea,
          ids::kGradeLabel, ids::kStopButton, ids::kTimeBar, ids::kDownloadLink},
         false);
    m_picStage->StopAnimation();
    if (m_bMedleyList)
        Show({ids::kSongList, ids::kSongBox1, ids::kSongBox2, ids::kSongBox3, ids::kSongBox4,
              ids::kConfirmButton, ids::kListBackButton, ids::kClearButton1, ids::kClearButton2,
              ids::kClearButton3, ids::kClearButton4},
             true);
    else
        Show({ids::kSongList, ids::kSingleSongBox, ids::kConfirmButton, ids::kListBackButton,
              ids::kSingleClearButton},
             true);
    update();
}

void CQuorvelDlg::SongLoaded(int index, const engine::SongRef& ref,
                             const std::shared_ptr<const engine::CSong>& song) {
    if (m_session.IsPractising()) {
        m_attempt.Clear();
        m_attempt.SongLoaded(ref, song);
    } else {
        if (index == 0) m_record.Clear();
        m_record.SongLoaded(ref, song);
    }
    // A session gets a new display; a medley keeps the one made for its first song, and the
    // next attempt of a practice the one of its first attempt, starting where the music does.
    const bool keepDisplay = index != 0 || (m_session.IsPractising() && m_bDisplayUp);
    if (!keepDisplay) {
        m_display.Create(this, m_rcDisplay, ids::kPitchDisplay);
        m_display.raise();
        m_bDisplayUp = true;
        m_display.SetSong(song);
    } else {
        m_display.SetSong(song);
        m_display.Restart();
        m_display.LoadLyrics();
    }
    activateWindow();
}

void CQuorvelDlg::AccompanimentStarted(int lengthMs) {
    m_nSongLength = lengthMs;
    m_timeBar.SetRange32(0, m_nSongLength / 1000);
}

void CQuorvelDlg::ClearGrade() {
    if (m_bDisplayUp) {
        m_display.DestroyDisplay();
        m_bDisplayUp = false;
    }
    SetGradeText(" ");
}

void CQuorvelDlg::EndSession() {
    m_session.Stop();
    ClearGrade();
}

void CQuorvelDlg::SessionEnded(const engine::Problem* problem) {
    // The session is quiet: the song is over, or a medley's next song could not be started.
    ClearGrade();
    if (!problem) return;
    ReturnToList();
    problem->Show();
}

void CQuorvelDlg::OnStopSinging() {
    if (m_bPractising && !m_bPractiseFromReview) {
        // A practice from the song list goes back to the list.
        EndSession();
        m_bPractising = false;
        ShowPracticePanel(false);
        ReturnToList();
        return;
    }
    if (m_bPractising) {
        // A practice goes back to the review it came from, over the stage where the song
        // ended: closing the review leaves the stop button, which leads back to the list.
        EndSession();
        m_bPractising = false;
        ShowPracticePanel(false);
        if (m_pReviewPage) {
            m_pReviewPage->show();
            m_pReviewPage->raise();
            m_pReviewPage->ShowRow(static_cast<int>(m_nPractiseLine));
        }
        update();
        return;
    }
    SetCaption(true);
    m_nScreen = 1;
    m_levelChoice->setVisible(m_radioBoy->isVisible());
    m_bScoreShown = false;
    EndSession();
    Show({ids::kStageAnimation, ids::kLineBar, ids::kDisplayArea, ids::kHiddenArea,
          ids::kGradeLabel, ids::kStopButton, ids::kTimeBar, ids::kDownloadLink},
         false);
    m_picStage->StopAnimation();
    if (m_bMedleyList) {
        Show({ids::kSongList, ids::kSongBox1, ids::kSongBox2, ids::kSongBox3, ids::kSongBox4,
              ids::kConfirmButton, ids::kListBackButton, ids::kClearButton1, ids::kClearButton2,
              ids::kClearButton3, ids::kClearButton4},
             true);
        for (int id : m_pSongEdits) SetBoxText(id, QString());
    } else if (m_bSingleList) {
        Show({ids::kSongList, ids::kSingleSongBox, ids::kConfirmButton, ids::kListBackButton,
              ids::kSingleClearButton},
             true);
        SetBoxText(ids::kSingleSongBox, QString());
    }
    if (m_pScoreDlg) m_pScoreDlg->OnOK();
    update();
}

void CQuorvelDlg::ShowScore() {
    QWidget* stage = Control(ids::kStageAnimation);
    if (!stage || !m_pScoreDlg) return;
    const QRect target(stage->mapToGlobal(QPoint(0, 0)), stage->size().expandedTo(QSize(800, 446)));
    m_pScoreDlg->setGeometry(target);
    m_pScoreDlg->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    // Shown without taking the focus from the main window; a click gives it the focus, and then
    // Enter or Escape hides it.
    m_pScoreDlg->setAttribute(Qt::WA_ShowWithoutActivating, true);
    // Shown growing from the centre over 500 ms.
    const QRect start(target.center(), QSize(1, 1));
    m_pScoreDlg->setGeometry(start);
    m_pScoreDlg->show();
    auto* grow = new QPropertyAnimation(m_pScoreDlg, "geometry", m_pScoreDlg);
    grow->setDuration(500);
    grow->setStartValue(start);
    grow->setEndValue(target);
    grow->start(QAbstractAnimation::DeleteWhenStopped);
    m_bScoreShown = true;
}

void CQuorvelDlg::SetScore(float score) {
    m_fFinalScore = score;
    KeepRun(score);
    if (!m_pScoreDlg) return;
    m_pScoreDlg->SetScore(score);
    m_pScoreDlg->SetLevelCaption(QString::fromUtf8(engine::JudgingLevelCaption(m_session.Level())));
    m_pScoreDlg->update();
}

// ---------------------------------------------------------------------------------------------
// The screen, as the evaluation sees it

void CQuorvelDlg::SetGradeText(const std::string& text) {
    auto* label = static_cast<QLabel*>(m_pGradeLabel ? m_pGradeLabel : Control(ids::kGradeLabel));
    if (!label) return;
    label->setFont(m_fontGrade);
    label->setText(QString::fromStdString(text));
    ApplyControlColours(ids::kGradeLabel);  // its colour follows the word
    label->repaint();
}

void CQuorvelDlg::OnLineScored(const engine::LineReport& report) {
    Recording().LineScored(report);
    // Each line's result goes to the trace output, for whoever runs the program from a terminal.
    char line[160];
    std::snprintf(line, sizeof line, "line %d (%.2f-%.2f s): %.1f %s, %d hits, %d near\n",
                  report.nLine + 1, static_cast<double>(report.fStart),
                  static_cast<double>(report.fEnd), static_cast<double>(report.fScore),
                  report.strGrade.c_str(), report.nHits, report.nNears);
    platform::Trace(line);
}

engine::CSessionRecord& CQuorvelDlg::Recording() {
    return m_session.IsPractising() ? m_attempt : m_record;
}

void CQuorvelDlg::OnBufferJudged(const engine::BufferReport& report) {
    Recording().BufferJudged(report);
}

void CQuorvelDlg::OnLineBegun(const engine::LineCarry& carry) { Recording().LineBegun(carry); }

void CQuorvelDlg::OnLineAudio(int line, const int16_t* samples, int count) {
    Recording().LineAudio(line, samples, count);
}

// ---------------------------------------------------------------------------------------------
// The review and the practice of a line

void CQuorvelDlg::OnReview() {
    if (!m_pReviewPage || m_record.Songs().empty()) return;
    QWidget* stage = Control(ids::kStageAnimation);
    const QPoint at = stage ? stage->pos() : QPoint(0, 0);
    m_pReviewPage->setGeometry(QRect(at, QSize(800, 446)));
    m_pReviewPage->Show(m_record, m_fFinalScore, RoleOffset());
}

void CQuorvelDlg::OnHearTake(std::size_t song, int line) {
    const std::vector<int16_t>& take = m_record.Take(song, line);
    if (take.empty()) return;
    platform::Trace("review: the take of line " + std::to_string(line + 1) + " (" +
                    std::to_string(take.size()) + " samples)\n");
    if (!m_pLinePlayer && m_devices.makeClicks) m_pLinePlayer = m_devices.makeClicks();
    if (!m_pLinePlayer) return;
    std::string error;
    if (!m_pLinePlayer->Play(take, 8000, error))
        platform::ShowMessage("无法播放：" + error, platform::MessageIcon::Exclamation);
}

void CQuorvelDlg::OnHearReference(std::size_t song, int line) {
    const std::vector<engine::LineReview> reviews = m_record.Reviews(song);
    if (line < 0 || static_cast<std::size_t>(line) >= reviews.size()) return;
    constexpr int kRate = 16000;
    std::vector<int16_t> melody =
        engine::ReferenceMelody(reviews[static_cast<std::size_t>(line)], RoleOffset(), kRate);
    if (melody.empty()) return;
    if (!m_pLinePlayer && m_devices.makeClicks) m_pLinePlayer = m_devices.makeClicks();
    if (!m_pLinePlayer) return;
    std::string error;
    if (!m_pLinePlayer->Play(std::move(melody), kRate, error))
        platform::ShowMessage("无法播放：" + error, platform::MessageIcon::Exclamation);
}

void CQuorvelDlg::OnPractiseFromList(const engine::SongRef& song) {
    if (!m_bInitialised || !m_bMicrophone) return;
    engine::Problem problem;
    engine::SongLoadOptions options;
    options.nRole = m_session.Engine().HighOffset() ? 1 : 2;
    const std::shared_ptr<const engine::CSong> loaded =
        engine::LoadSong(song.strFolder, options, &problem);
    if (!loaded) {
        problem.Show();
        return;
    }
    QStringList lines;
    for (int line = 0; line < loaded->Points() - 1; ++line) {
        QString words;
        if (static_cast<std::size_t>(line) < loaded->Info().lyrics.size())
            for (const engine::SongLyric& lyric :
                 loaded->Info().lyrics[static_cast<std::size_t>(line)])
                words += QString::fromStdString(lyric.strText);
        lines.append(QStringLiteral("第 %1 句　%2").arg(line + 1).arg(words));
    }
    bool chosen = false;
    const QString choice =
        QInputDialog::getItem(this, QStringLiteral("练习一句"),
                              QString::fromStdString(song.strName), lines, 0, false, &chosen);
    if (!chosen) return;
    StartPractice(song, static_cast<int>(lines.indexOf(choice)), std::nullopt, false);
}

void CQuorvelDlg::StartPractice(const engine::SongRef& song, int line,
                                std::optional<engine::LineCarry> carry, bool fromReview) {
    if (m_pLinePlayer) m_pLinePlayer->Stop();
    m_nPractiseLine = line;
    m_practiceScores.clear();
    m_bPractising = true;
    m_bPractiseFromReview = fromReview;
    if (m_pReviewPage) m_pReviewPage->hide();
    if (m_pHistoryPage) m_pHistoryPage->hide();
    if (m_pScoreDlg) m_pScoreDlg->OnOK();
    if (!fromReview)
        Show(
            {ids::kSongList, ids::kConfirmButton, ids::kListBackButton, ids::kSongBox1,
             ids::kSongBox2, ids::kSongBox3, ids::kSongBox4, ids::kClearButton1, ids::kClearButton2,
             ids::kClearButton3, ids::kClearButton4, ids::kSingleSongBox, ids::kSingleClearButton},
            false);
    SetCaption(false);
    ShowSingingScreen(true);
    m_practicePicture->clear();
    ShowPracticePanel(true);
    ShowPracticeScores();
    m_session.SetLatencyMs(
        CAudioSettings::Load().LatencyMs(m_session.CaptureDevice()->InputLatencyMs()));
    if (const std::optional<engine::Problem> problem =
            m_session.StartPractice(song, line, std::move(carry))) {
        OnStopSinging();  // back where the practice came from, then the reason
        problem->Show();
    }
}

void CQuorvelDlg::OnPractiseLine(std::size_t song, int line) {
    if (song >= m_record.Songs().size() || !m_bInitialised || !m_bMicrophone) return;
    std::optional<engine::LineCarry> carry;
    if (const engine::LineCarry* kept = m_record.Carry(song, line)) carry = *kept;
    m_nPractiseSong = song;
    StartPractice(m_record.Songs()[song].ref, line, std::move(carry), true);
}

void CQuorvelDlg::PracticeAttemptStarted(int attempt, int /*fromMs*/) {
    platform::Trace("practice: attempt " + std::to_string(attempt) + "\n");
}

void CQuorvelDlg::PracticeAttemptScored(int attempt, float score) {
    m_practiceScores.push_back(score);
    char traced[64];
    std::snprintf(traced, sizeof traced, "practice: attempt %d scored %.1f\n", attempt,
                  static_cast<double>(score));
    platform::Trace(traced);
    KeepAttempt(score);
    if (!m_attempt.Songs().empty() && m_attempt.Songs()[0].song) {
        const engine::SongRecord& sung = m_attempt.Songs()[0];
        const engine::LineReview review =
            engine::BuildLineReview(*sung.song, m_nPractiseLine,
                                    sung.lines.empty() ? nullptr : &sung.lines[0], sung.buffers);
        m_practicePicture->setPixmap(QPixmap::fromImage(
            CLinePlot(review, RoleOffset(),
                      QSize(CReviewPage::kPictureWidth, CReviewPage::kPictureHeight))
                .Draw()));
    }
    ShowPracticeScores();
}

void CQuorvelDlg::ShowPracticeScores() {
    QString words = QStringLiteral("练习第 %1 句\n").arg(m_nPractiseLine + 1);
    for (std::size_t i = 0; i < m_practiceScores.size(); ++i)
        words += QStringLiteral("第 %1 次　%2\n")
                     .arg(i + 1)
                     .arg(QString::number(static_cast<double>(m_practiceScores[i]), 'f', 1));
    m_practiceWords->setText(words);
}

void CQuorvelDlg::OnShowHistory(const engine::SongRef& song, const std::string& hash) {
    if (!m_pHistory || !m_pHistoryPage) return;
    m_pHistory->Post([this, song, hash](history::CHistoryStore& store) {
        const std::string key = hash.empty() ? store.HashOfFolder(song.strFolder) : hash;
        std::vector<history::Attempt> attempts = store.Attempts(key);
        QMetaObject::invokeMethod(
            this,
            [this, song, attempts = std::move(attempts)] {
                QWidget* stage = Control(ids::kStageAnimation);
                const QPoint at = stage && stage->isVisible() ? stage->pos() : QPoint(0, 0);
                m_pHistoryPage->setGeometry(QRect(at, QSize(800, 446)));
                m_pHistoryPage->Show(QString::fromStdString(song.strName), attempts);
            },
            Qt::QueuedConnection);
    });
}

void CQuorvelDlg::RefreshSongScores() {
    if (!m_pHistory) return;
    m_pHistory->Post([this](history::CHistoryStore& store) {
        std::map<std::string, history::SongScores> scores = store.ScoresByFolder();
        QMetaObject::invokeMethod(
            this,
            [this, scores = std::move(scores)] {
                m_songScores = scores;
                // Sung lately: the order of "recently sung" changes with them.
                if (m_order == library::SongOrder::Recent)
                    FillSongList(m_bMedleyList);
                else
                    OnSearchChanged();
            },
            Qt::QueuedConnection);
    });
}

namespace {

int64_t NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

}  // namespace

history::Attempt CQuorvelDlg::NewAttempt(const engine::SongRecord& song) const {
    history::Attempt attempt;
    attempt.strSongHash = history::SongHash(*song.song);
    attempt.strFolder = song.ref.strFolder;
    attempt.strTitle = song.ref.strName;
    attempt.nWhenMs = NowMs();
    attempt.nRole = m_session.Engine().HighOffset() ? 1 : 2;
    attempt.strLevel = engine::JudgingLevelName(m_session.Level());
    return attempt;
}

void CQuorvelDlg::KeepRun(float finalScore) {
    if (!m_pHistory || m_record.Songs().empty()) return;
    std::vector<history::Attempt> attempts;
    for (const engine::SongRecord& song : m_record.Songs()) {
        if (!song.song) continue;
        history::Attempt attempt = NewAttempt(song);
        float sum = 0.0f;
        for (const engine::LineReport& line : song.lines) {
            attempt.lineScores.push_back(line.fScore);
            sum += line.fScore;
        }
        attempt.fScore = song.lines.empty() ? 0.0f : sum / static_cast<float>(song.lines.size());
        attempt.fRunScore = finalScore;
        attempts.push_back(std::move(attempt));
    }
    KeepInHistory(std::move(attempts));
    RefreshSongScores();
}

void CQuorvelDlg::KeepAttempt(float score) {
    if (!m_pHistory || m_attempt.Songs().empty() || !m_attempt.Songs()[0].song) return;
    history::Attempt attempt = NewAttempt(m_attempt.Songs()[0]);
    attempt.nPracticeLine = m_nPractiseLine;
    attempt.fScore = score;
    attempt.fRunScore = score;
    attempt.lineScores = {score};
    KeepInHistory({std::move(attempt)});
}

void CQuorvelDlg::KeepInHistory(std::vector<history::Attempt> run) {
    // Written on the history's thread with whatever waits from before; what cannot be written
    // now waits there in memory, and the window is told how much waits (and why, the first time).
    m_pHistory->Post([this, run = std::move(run)](history::CHistoryStore& store) mutable {
        std::string error;
        const bool written = store.Keep(std::move(run), error);
        const std::size_t waiting = store.Waiting();
        if (!written) platform::Trace("history: not written yet: " + error + "\n");
        QMetaObject::invokeMethod(
            this,
            [this, waiting, error] {
                m_nHistoryWaiting = waiting;
                if (waiting == 0 || m_bHistoryWaitSaid) return;
                m_bHistoryWaitSaid = true;
                platform::ShowMessage(
                    "历史记录现在无法写入（" + error + "）。成绩先留在内存里，能写入时再写进去。",
                    platform::MessageIcon::Exclamation);
            },
            Qt::QueuedConnection);
    });
}

void CQuorvelDlg::ShowPracticePanel(bool visible) {
    m_practiceWords->setVisible(visible);
    m_practicePicture->setVisible(visible);
    if (visible) {
        m_practiceWords->raise();
        m_practicePicture->raise();
    }
}

void CQuorvelDlg::ShowSingingScreen(bool visible) {
    if (visible) {
        Show({ids::kDownloadLink, ids::kStageAnimation}, true);
        if (m_picStage->Load(m_radioBoy->isChecked() ? res::kGifStageBoy : res::kGifStageGirl,
                             "GIF"))
            m_picStage->Draw();
        Show({ids::kLineBar, ids::kDisplayArea}, true);
        Show({ids::kHiddenArea}, false);
        Show({ids::kGradeLabel, ids::kStopButton, ids::kTimeBar}, true);
        m_btnStop->LoadIcons(res::kIconStop, 0);
        m_btnStop->ShowBorder(false, true);
        m_btnStop->SetTransparent(true);
    } else {
        Show({ids::kLineBar, ids::kDisplayArea, ids::kHiddenArea, ids::kGradeLabel,
              ids::kStopButton, ids::kTimeBar},
             false);
    }
    update();
}

void CQuorvelDlg::SetPitchMarker(int y, int nearFlag, int hitFlag, int farFlag) {
    m_display.SetPitchMarker(y, nearFlag, hitFlag, farFlag);
}
