#pragma once
// Stopping and starting the local Firebird server, for the fault tests (which run alone).

// Stops the guardian and the server; true once nothing listens on 127.0.0.1:3050.
bool StopServer();
// Brings the server up again with the project's script; true once it answers.
bool StartServer();
bool ServerListening();
