// Runs in the wrapper page: loads one page in a frame and records, for every element
// with an id and every link, what the browser's DOM reports.
(function () {
    const params = new URLSearchParams(location.search);
    const target = params.get('page');
    const frame = document.getElementById('frame');
    const out = document.getElementById('out');

    function describe(el) {
        const html = el instanceof frame.contentWindow.HTMLElement;
        return {
            tagName: el.tagName,
            innerText: html ? el.innerText : null,
            outerText: html ? el.outerText : null,
            href: el.tagName === 'A' ? el.href : null,
            descendants: Array.from(el.getElementsByTagName('*'), (d) => d.tagName),
        };
    }

    function run() {
        const doc = frame.contentDocument;
        // Synchronous, so the result is in place before the browser dumps the DOM.
        const request = new XMLHttpRequest();
        request.open('GET', target, false);
        request.send();
        const source = request.responseText;
        const ids = {};
        const missingIds = [];
        for (const el of doc.querySelectorAll('[id]')) {
            if (!(el.id in ids) && doc.getElementById(el.id) === el)
                ids[el.id] = describe(el);
        }
        // Ids written in the source that the parsed document does not hold.
        for (const m of source.matchAll(/\sid=["']?([A-Za-z0-9_-]+)/g)) {
            if (!doc.getElementById(m[1]) && !missingIds.includes(m[1]))
                missingIds.push(m[1]);
        }
        const links = Array.from(doc.body.getElementsByTagName('*'))
            .filter((el) => el.tagName === 'A')
            .map(describe);
        const result = {
            page: target,
            characterSet: doc.characterSet,
            baseURI: doc.baseURI,
            bodyTag: doc.body ? doc.body.tagName : null,
            ids,
            missingIds,
            links,
        };
        const json = JSON.stringify(result);
        const bytes = new TextEncoder().encode(json);
        let binary = '';
        for (const b of bytes)
            binary += String.fromCharCode(b);
        out.textContent = btoa(binary);
    }

    frame.addEventListener('load', () => {
        try {
            run();
        } catch (e) {
            out.textContent = 'ERROR ' + e;
        }
    });
    frame.src = target;
})();
