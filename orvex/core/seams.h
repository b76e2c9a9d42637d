#pragma once
// Calls from the core into subsystems that are built on top of it (the file cache, user
// properties, the player script, the screen's orientation). Each subsystem defines its function.

#include <string>

namespace orvex::seams {

// The shared file cache's hourly clean-up, on a background queue.
void cleanUpFileCacheIfNeeded();
// Sends user properties that are still waiting to go out.
void sendPendingCustomProperties();
// Clears the stored user properties, ordered after the property changes already queued.
void resetCustomProperties();
// False only when the application's first window is in a landscape orientation.
bool interfaceIsPortrait();
// Makes the ad player script of `version` ready in the background, without completion.
void preparePlayerScript(const std::string& version);
// Removes the cached ad player script (its version changed).
void deletePlayerScript();

}  // namespace orvex::seams
