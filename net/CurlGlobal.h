#pragma once

// libcurl's process-wide set-up, done once by whichever worker needs it
// first. There is deliberately no clean-up: self-freeing workers may still
// be running while the program exits.
void EnsureCurlInitialized();
