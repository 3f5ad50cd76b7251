#include "win/com.h"

#include <objbase.h>

namespace setup::win {
namespace {

bool s_started = false;  // COM is started on the window's thread

}  // namespace

void UseCom() {
    if (!s_started) s_started = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

void EndCom() {
    if (s_started) CoUninitialize();
    s_started = false;
}

}  // namespace setup::win
