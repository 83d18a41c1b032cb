#pragma once
// The windows say a refused upgrade file as they always have: one "Can not accept this
// file." box, owned by the main window or else the active one, whatever the reason.
void ShowRefusalBox();
