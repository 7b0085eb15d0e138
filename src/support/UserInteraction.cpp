#include "support/UserInteraction.h"

#include <atomic>

namespace sdm {

namespace {
TSilentInteraction g_silent;
std::atomic<IUserInteraction*> g_current{nullptr};
}  // namespace

IUserInteraction& UserInteraction() {
  IUserInteraction* ui = g_current.load();
  return ui ? *ui : g_silent;
}

void SetUserInteraction(IUserInteraction* ui) { g_current.store(ui); }

}  // namespace sdm
