// The second mode: removing the browser plug-in and its registration.
#pragma once

bool RemoveWebPlugin(int mode);
