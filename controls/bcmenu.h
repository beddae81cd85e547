// The owner-drawn menu object that every CButtonST carries as its popup menu. Nothing in the
// program builds, shows or draws a menu (there are no menu resources, and no button is ever given
// one), so this is the empty object only: it owns no menu and no item data, and it is created and
// destroyed with its button.
#pragma once

class QMenu;

class BCMenu {
public:
    BCMenu();
    ~BCMenu();
    BCMenu(const BCMenu&) = delete;
    BCMenu& operator=(const BCMenu&) = delete;

    // The name of the class, as a run-time record would give it.
    static const char* ClassName() { return "BCMenu"; }

    // Whether the menu is one of these owner-drawn menus, asked before a menu keystroke or an
    // item measurement is handled specially. No BCMenu holds a menu, so the answer is always no
    // and the default handling applies.
    static bool IsMenu(const QMenu* menu);

    // BCMenu objects alive now.
    static int Alive();
};
