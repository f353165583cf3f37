"""A learner's program checked against ours (scripts/check): the same exchanges, played with
each in turn, and what differs told in words."""
