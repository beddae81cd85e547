// The song folders part of the settings page: the folders the user added for the library to
// search (an UltraStar collection, for example), with 添加… and 移除 buttons. The list is kept in
// the user's settings (CLibrarySettings); each change is saved and reported (SetChangedHandler),
// and the main window then has the library search the new folders.
#pragma once

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <functional>

class CLibraryFolderPanel : public QWidget {
public:
    explicit CLibraryFolderPanel(QWidget* parent);

    // What asks the user for a folder to add (a folder dialog by default; "" when cancelled).
    // It runs its own event loop: nothing of the panel is locked meanwhile.
    void SetFolderChooser(std::function<QString()> choose) { m_choose = std::move(choose); }
    // Called after the list of folders changed and was saved.
    void SetChangedHandler(std::function<void()> changed) { m_changed = std::move(changed); }

    // The buttons' actions.
    void OnAdd();
    void OnRemove();
    // Shows the folders the settings hold.
    void Reload();

    QListWidget* Folders() const { return m_list; }
    QPushButton* AddButton() const { return m_add; }
    QPushButton* RemoveButton() const { return m_remove; }

private:
    void UpdateButtons();

    QLabel* m_title = nullptr;
    QListWidget* m_list = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_remove = nullptr;
    std::function<QString()> m_choose;
    std::function<void()> m_changed;
};
