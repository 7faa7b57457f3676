#pragma once

// Gives a waiting "reports_b" folder in the application directory the name
// "reports" when no "reports" folder is there.
void switchReportFolders();
