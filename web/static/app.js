// The live net page: applies the server's events to the page rendered by
// the server. Values only ever go in as text, never as markup.
'use strict';

(function () {
  const view = document.body.dataset.view;
  const main = document.getElementById('nets');
  const banner = document.getElementById('banner');
  let serverDownSince = banner && banner.dataset.since ? banner.dataset.since : null;
  let streamOpen = false;

  function localTime(iso, withDate) {
    const time = new Date(iso);
    if (isNaN(time.getTime())) return '';
    const options = withDate ? { dateStyle: 'medium', timeStyle: 'short' } : { hour: '2-digit', minute: '2-digit' };
    return time.toLocaleString([], options);
  }

  function showLocalTimes(root) {
    for (const started of root.querySelectorAll('time.started')) {
      const local = started.parentNode.querySelector('.local');
      if (local) local.textContent = ' (' + localTime(started.dateTime, true) + ' here)';
    }
  }

  function showBanner() {
    if (!banner) return;
    banner.className = 'banner';
    if (serverDownSince) {
      banner.classList.add('offline');
      banner.textContent = 'offline since ' + localTime(serverDownSince, false);
    } else if (!streamOpen) {
      banner.classList.add('reconnecting');
      banner.textContent = 'reconnecting';
    } else {
      banner.classList.add('live');
      banner.textContent = 'live';
    }
  }

  function element(tag, className, text) {
    const made = document.createElement(tag);
    if (className) made.className = className;
    if (text !== undefined) made.textContent = text;
    return made;
  }

  function svgElement(tag, attributes) {
    const made = document.createElementNS('http://www.w3.org/2000/svg', tag);
    for (const [name, value] of Object.entries(attributes)) made.setAttribute(name, String(value));
    return made;
  }

  function row(entry, number) {
    const tr = element('tr');
    tr.className = 'ink-' + entry.ink + ' paper-' + entry.paper + (entry.bold ? ' bold' : '') +
      (entry.withdrawn ? ' withdrawn' : '');
    const state = entry.checkedIn ? 'checked in' : entry.withdrawn ? 'withdrawn' : '';
    const cells = [[String(number), 'no'], [entry.code, 'sc'], [entry.call, 'call'], [entry.name], [entry.city],
      [entry.state], [entry.relay], [state, 'in']];
    for (const [text, className] of cells) tr.appendChild(element('td', className, text));
    return tr;
  }

  function fill(section, net) {
    section.querySelector('.title').textContent = net.title;
    section.querySelector('.open').textContent = net.closed ? 'closed' : 'running';
    const started = section.querySelector('time.started');
    started.dateTime = net.started;
    started.textContent = net.started.slice(0, 10) + ' ' + net.started.slice(11, 16) + ' UTC';
    section.querySelector('.stations').textContent = String(net.stations);
    section.querySelector('.checkins').textContent = String(net.checkins);
    const changed = section.querySelector('time.changed');
    changed.dateTime = net.changed;
    changed.textContent = net.changed ? net.changed.slice(11, 19) + ' UTC' : 'none';
    const body = section.querySelector('tbody');
    body.replaceChildren(...net.entries.map((entry, i) => row(entry, i + 1)));
    const dots = section.querySelector('g.dots');
    dots.replaceChildren();
    for (const entry of net.entries) {
      if (entry.x === undefined) continue;
      const dot = svgElement('circle', { cx: entry.x, cy: entry.y, r: entry.ncs ? 7 : 4,
        class: entry.ncs ? 'dot ncs' : 'dot' });
      const title = svgElement('title', {});
      title.textContent = entry.call;
      dot.appendChild(title);
      dots.appendChild(dot);
    }
    section.classList.toggle('closed', net.closed);
    showLocalTimes(section);
  }

  // A net not on the page yet: a copy of a section's shape, or a new one.
  function newSection(net) {
    const template = main.querySelector('section.net');
    let section;
    if (template) {
      section = template.cloneNode(true);
    } else {
      section = element('section', 'net');
      const heading = element('h2');
      heading.append(element('span', 'title'), ' ', element('span', 'open'));
      const facts = element('p', 'facts');
      const started = element('time', 'started');
      const changed = element('time', 'changed');
      facts.append('Started ', started, element('span', 'local'), ' · ', element('span', 'stations'),
        ' stations · ', element('span', 'checkins'), ' check-ins · last change ', changed);
      const layout = element('div', 'layout');
      const table = element('table', 'list');
      const head = element('thead');
      const names = element('tr');
      for (const name of ['No', 'SC', 'Call', 'Name', 'City', 'State', 'Relay', 'Check-in'])
        names.appendChild(element('th', '', name));
      head.appendChild(names);
      table.append(head, element('tbody'));
      const map = svgElement('svg', { class: 'map', viewBox: '0 0 975 610', role: 'img',
        'aria-label': 'Map of the stations' });
      map.append(svgElement('image', { href: '/static/states.svg', width: 975, height: 610 }),
        svgElement('g', { class: 'dots' }));
      layout.append(table, map);
      section.append(heading, facts, layout);
    }
    section.id = 'net-' + net.id;
    section.dataset.net = net.id;
    const none = document.getElementById('none');
    if (none) none.remove();
    return section;
  }

  function apply(net) {
    let section = document.getElementById('net-' + net.id);
    if (!section) {
      if (view !== 'today') return;
      section = newSection(net);
      // Open nets first, the newest first.
      const after = Array.from(main.querySelectorAll('section.net')).find(
        (other) => (!net.closed && other.classList.contains('closed')) ||
          (net.closed === other.classList.contains('closed') &&
           other.querySelector('time.started').dateTime < net.started));
      main.insertBefore(section, after || null);
    }
    fill(section, net);
  }

  showLocalTimes(document);
  if ((view !== 'today' && view !== 'net') || !main || typeof EventSource === 'undefined') return;
  const only = view === 'net' ? main.querySelector('section.net') : null;
  const url = only ? '/events?net=' + encodeURIComponent(only.dataset.net) : '/events';

  function listen() {
    const source = new EventSource(url);
    source.onopen = () => { streamOpen = true; showBanner(); };
    source.onerror = () => {
      streamOpen = false;
      showBanner();
      // Refused outright (trelvin-web full, or a proxy's error): the
      // browser does not try again by itself.
      if (source.readyState === EventSource.CLOSED) setTimeout(listen, 5000);
    };
    source.addEventListener('status', (event) => {
      const status = JSON.parse(event.data);
      serverDownSince = status.server === 'down' ? status.since : null;
      showBanner();
    });
    source.addEventListener('net', (event) => apply(JSON.parse(event.data)));
  }
  listen();
})();
