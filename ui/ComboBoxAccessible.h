#pragma once
// Screen readers on Linux learn a combo box's name from Qt's accessibility interface, which names
// it by its current value ("6", "Hex") there. The skin names each combo box for what it chooses
// ("Digits"); this interface gives that name, keeps the value as the value, and keeps the popup
// list as the combo box's child.

// Installs the interface for every combo box of the process; the first call does, later calls do
// nothing. Needs a QApplication.
void InstallComboBoxAccessibleNames();
