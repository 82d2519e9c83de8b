#pragma once

// Waits `ms` milliseconds with the event loop running but user input held back, so the window
// keeps painting and device changes are seen while no click can start anything.
void Pause(int ms);

// Runs the events that are pending now, user input included.
void ProcessPendingEvents();
