// The engine session: one key in, one action out.
