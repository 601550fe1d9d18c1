// Hostile-server cases: cli.
