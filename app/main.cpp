// quorvel: the karaoke singing trainer.
#include "app/quorvelapp.h"

int main(int argc, char** argv) { return CQuorvelApp().InitInstance(argc, argv); }
