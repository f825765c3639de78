#pragma once
// The touch prompt: before a guarded command on a key that wants the operator's touch, a modal
// "Tip" box, modal to the window `owner` sits in, says to touch the key after clicking continue.
class IDeveiceInterface;
class QWidget;

// True when the guarded command may be sent now: the key needs no touch (no box is shown), or the
// operator confirmed the box. The box runs a nested loop in which a device change may replace or
// release the window's device: a caller compares PanelContext::DeviceGeneration before and
// after this call before it uses `device` again.
bool ConfirmUserPresence(IDeveiceInterface& device, QWidget* owner);
