#pragma once
// Unit U_LoadThd.
// TLoadThd: the thread behind the "Loading..." dialog. It does no work of its
// own: it hands the codec listing to the UI thread and waits, so the dialog's
// modal loop is running (and the dialog on screen) while the compressors are
// probed.
#include "support/StringList.h"
#include "support/Thread.h"

namespace sdm {

class TBmpToAvi;

class TLoadThd : public TThread {
public:
  explicit TLoadThd(IUiThread& ui) : TThread(ui) {}
  TBmpToAvi* Avi = nullptr;           // not owned
  TStringList* CodecItems = nullptr;  // not owned; filled by the writer's ListCodecs

protected:
  void Execute() override;
};

}  // namespace sdm
