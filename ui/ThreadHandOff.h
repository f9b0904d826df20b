#pragma once

class QObject;

// Runs the workers' queued hand-offs on the Qt event loop: a hand-off into
// an empty queue posts one call to TThread::RunQueued, and a timer owned by
// AOwner pumps them as a safety net. Call on the GUI thread; the
// wake-up is withdrawn when AOwner goes.
void ConnectThreadHandOffs(QObject* AOwner);
