"""The learner's timelines: the model of a traced run (model.py, from calls.py and
packets.py) and its renderings (terminal.py, page.py, pcapng.py); story.py tells a lesson."""
