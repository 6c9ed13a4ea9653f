"""What every end-to-end run of the real player shares: the check runner, the set of helper
processes, the temporary work folder, a private X display, PulseAudio server and session bus,
the demo catalogue, the player's session and the analysis of its sound.

A runner puts the tests folder on sys.path from its own location and imports
`harness.<module>`."""
