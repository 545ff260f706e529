#pragma once

// Makes the embedded pictures and icon available; the windows call it before use.
void initProgramResources();
