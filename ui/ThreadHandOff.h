#pragma once

class QObject;

// Runs the workers' synchronous hand-offs on the Qt event loop: every
// queued hand-off posts a call to TThread::CheckSynchronize, and a timer
// owned by AOwner pumps them as a safety net. Call on the GUI thread; the
// wake-up is withdrawn when AOwner goes.
void ConnectThreadHandOffs(QObject* AOwner);
