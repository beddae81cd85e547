// The control ids of the main window and of its settings and help page. Each control carries its
// id as its object name (QString::number(id)), which is how the windows, the progress bars that
// take a control's place and the tests find it; the numbers therefore never change.
#pragma once

#include <array>

namespace ids {

// The main window (CQuorvelDlg).
inline constexpr int kPitchDisplay = 1000;   // the pitch and lyrics display, made while singing
inline constexpr int kDisplayArea = 1014;    // placeholder frame whose rectangle the display takes
inline constexpr int kLineBar = 1039;        // line progress bar (icons), replaces its frame
inline constexpr int kGradeLabel = 1040;     // grade of the last line sung
inline constexpr int kHiddenArea = 1041;     // empty area, never shown, painted transparent
inline constexpr int kSongBox1 = 1045;       // song-name box 1 (medleys)
inline constexpr int kSongBox2 = 1046;       // song-name box 2 (medleys, and the single song)
inline constexpr int kSongBox3 = 1047;       // song-name box 3 (medleys)
inline constexpr int kSongBox4 = 1048;       // song-name box 4 (medleys)
inline constexpr int kRoleBoy = 1055;        // radio button of role 1 (the boy's stage)
inline constexpr int kRoleGirl = 1056;       // radio button of role 2 (the girl's stage)
inline constexpr int kConfirmButton = 1064;  // confirm the songs and start singing
inline constexpr int kSongList = 1072;  // the songs of the chosen kind (single songs or medleys)
inline constexpr int kDownloadLink = 1074;     // link to the song download page, while singing
inline constexpr int kFullScreenCheck = 1079;  // "全屏演唱" check box, never shown
inline constexpr int kStartButton = 1081;      // home: 开始演唱, opens the type choice
inline constexpr int kSettingsButton = 1082;   // home: 麦克风设置, opens the settings page
inline constexpr int kHelpButton = 1083;       // home: 帮助, opens the help page
inline constexpr int kExitButton = 1084;       // home: 退出, ends the program
inline constexpr int kHomeButton = 1089;       // type choice: back to the home screen
inline constexpr int kClearButton1 = 1090;     // clears song-name box 1
inline constexpr int kClearButton2 = 1091;     // clears song-name box 2
inline constexpr int kClearButton3 = 1092;     // clears song-name box 3
inline constexpr int kClearButton4 = 1093;     // clears song-name box 4
inline constexpr int kListBackButton = 1094;   // song list: back to the type choice
inline constexpr int kOkButton = 1096;         // "确定" push button, never shown
inline constexpr int kStopButton = 1098;       // stops singing
inline constexpr int kTimeBar = 1100;          // song-time progress bar (icons), replaces its frame
inline constexpr int kSinglesPicture = 1102;   // type choice: animated picture for single songs
inline constexpr int kMedleysPicture = 1103;   // type choice: animated picture for medleys
inline constexpr int kStageAnimation = 1105;   // the stage animation behind the singing screen
inline constexpr int kSongSearch = 1111;       // song list: the search box above the list
inline constexpr int kLevelChoice = 1116;  // song list: 评分 轻松 / 标准 / 严格, the judging level

// The four song-name boxes and their clear buttons, in order; the single-song list uses the second.
inline constexpr std::array<int, 4> kSongBoxes = {kSongBox1, kSongBox2, kSongBox3, kSongBox4};
inline constexpr std::array<int, 4> kClearButtons = {kClearButton1, kClearButton2, kClearButton3,
                                                     kClearButton4};
inline constexpr int kSingleSongBox = kSongBox2;          // the box of the single-song list
inline constexpr int kSingleClearButton = kClearButton2;  // its clear button

// The settings and help page (CIntroduceDlg).
inline constexpr int kHelpList = 1108;            // help page: the lines of "init"
inline constexpr int kFolderButton = 1109;        // settings page: opens the songs folder
inline constexpr int kFolderHint = 1110;          // settings page: where new songs go
inline constexpr int kLibraryFolderPanel = 1112;  // settings page: the user's song folders
inline constexpr int kLibraryFolderList = 1113;   // the list of those folders
inline constexpr int kAddFolderButton = 1114;     // 添加…: adds a song folder
inline constexpr int kRemoveFolderButton = 1115;  // 移除: removes the chosen song folder

}  // namespace ids
