// Hostile-server cases: credentials.
