#pragma once
// The touch prompt: before a guarded command on a key that wants the operator's touch, a modal
// "Tip" box owned by the main window says to touch the key after clicking continue.
class CMainWnd;
class IDeveiceInterface;

// True when the guarded command may be sent now: the key needs no touch (no box is shown), or the
// operator confirmed the box. The box runs a nested loop in which a device change may replace or
// release the main window's device: a caller compares CMainWnd::m_nDeviceGeneration before and
// after this call before it uses `device` again.
bool ConfirmUserPresence(IDeveiceInterface& device, CMainWnd& mainWnd);
