#include "controls/bcmenu.h"

#include <atomic>

namespace {

std::atomic<int> g_nAlive{0};

}  // namespace

BCMenu::BCMenu() { ++g_nAlive; }

BCMenu::~BCMenu() { --g_nAlive; }

bool BCMenu::IsMenu(const QMenu*) { return false; }

int BCMenu::Alive() { return g_nAlive; }
