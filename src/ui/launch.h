// Starting the game from the client folder.
#pragma once

bool LaunchGame();
