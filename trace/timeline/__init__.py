"""The learner's timelines: the model of a traced run (model.py, from calls.py, packets.py
and sockets.py) and its renderings (terminal.py; page.py, with template.py; pcapng.py);
story.py tells a lesson."""
